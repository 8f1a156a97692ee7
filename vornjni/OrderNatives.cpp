// The ClientAPI natives that enter orders: each input array must hold its whole record (else
// IllegalArgumentException and 99, the export not called), and the id pairs of the wholesale
// orders are copied out.

#include <jni.h>

#include <string>
#include <vector>

#include "quorvex_api_binding_ClientAPI.h"
#include "vornjni/JavaArgs.h"
#include "vornjni/core/Marshal.h"

namespace {

using namespace vorn::bridge;

// The two orders of a wholesale order, and where its id pair goes.
struct TOrderPair {
  NewOrderStruct Primary;
  NewOrderStruct Secondary;
};

TOrderPair ReadOrderPair(JNIEnv* env, jbyteArray primary, jbyteArray secondary, jbyteArray out) {
  RequireLength(env, out, sizeof(OrderIDPair), "out");
  return {ReadRecord<NewOrderStruct>(env, primary, "primary order"),
          ReadRecord<NewOrderStruct>(env, secondary, "secondary order")};
}

}  // namespace

#define VN_NATIVE(name) JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_##name

extern "C" {

// The new order's id is not returned.
VN_NATIVE(addOrder)(JNIEnv* env, jobject, jbyteArray order) {
  return CallAPI([&](const TAPITable& api) {
    const auto record = ReadRecord<NewOrderStruct>(env, order, "order");
    CheckResult(api, api.vnAddOrder(&record, nullptr));
    return 0;
  });
}

VN_NATIVE(addProtectionOrder)(JNIEnv* env, jobject, jbyteArray order, jbyteArray protection) {
  return CallAPI([&](const TAPITable& api) {
    const auto record = ReadRecord<NewOrderStruct>(env, order, "order");
    const auto legs = ReadRecord<ProtectionStruct>(env, protection, "protection");
    CheckResult(api, api.vnAddProtectionOrder(&record, &legs, nullptr));
    return 0;
  });
}

// Always ten orders and ten id slots cross; a count outside 0..10 is refused before the API
// could read or write past them. The ids written into the slots stay native.
VN_NATIVE(addBatchOrder)(JNIEnv* env, jobject, jint count, jbyteArray orders, jbyteArray ids) {
  return CallAPI([&](const TAPITable& api) {
    if (count < 0 || count > kBatchOrders) throw EVORN(VN_RC_INVALID_INDEX);
    NewOrderStruct records[kBatchOrders] = {};
    char slots[kBatchOrders][11] = {};
    static_assert(sizeof records == kBatchOrderBytes && sizeof slots == kBatchIdBytes);
    ReadBytes(env, orders, records, sizeof records, "orders");
    ReadBytes(env, ids, slots, sizeof slots, "order ids");
    CheckResult(api, api.vnAddBatchOrder(count, records, slots));
    return 0;
  });
}

VN_NATIVE(addAggOrder)(JNIEnv* env, jobject, jbyteArray aggregate) {
  return CallAPI([&](const TAPITable& api) {
    const auto record = ReadRecord<AggregateOrderStruct>(env, aggregate, "aggregate");
    CheckResult(api, api.vnAddAggregateOrder(&record, nullptr));
    return 0;
  });
}

VN_NATIVE(addCustReqOrder)(JNIEnv* env, jobject, jbyteArray request) {
  return CallAPI([&](const TAPITable& api) {
    const auto record = ReadRecord<CustReqStruct>(env, request, "request");
    CheckResult(api, api.vnAddCustRequest(&record, nullptr));
    return 0;
  });
}

// A Java char crosses as its low 8 bits.
VN_NATIVE(addCrossingOrder)
(JNIEnv* env, jobject, jbyteArray primary, jbyteArray secondary, jbyteArray legPrices, jchar flag,
 jbyteArray out) {
  return CallAPI([&](const TAPITable& api) {
    const TOrderPair orders = ReadOrderPair(env, primary, secondary, out);
    const auto legs = ReadRecord<LegPriceStruct>(env, legPrices, "leg prices");
    OrderIDPair pair{};
    CheckResult(api, api.vnAddCrossingOrder(&orders.Primary, &orders.Secondary, &legs, &pair,
                                            static_cast<char>(flag)));
    WriteBytes(env, out, &pair, sizeof pair);
    return 0;
  });
}

VN_NATIVE(addBlockOrder)
(JNIEnv* env, jobject, jbyteArray primary, jbyteArray secondary, jbyteArray legPrices,
 jbyteArray out) {
  return CallAPI([&](const TAPITable& api) {
    const TOrderPair orders = ReadOrderPair(env, primary, secondary, out);
    const auto legs = ReadRecord<LegPriceStruct>(env, legPrices, "leg prices");
    OrderIDPair pair{};
    CheckResult(api, api.vnAddBlockOrder(&orders.Primary, &orders.Secondary, &legs, &pair));
    WriteBytes(env, out, &pair, sizeof pair);
    return 0;
  });
}

VN_NATIVE(addBasisOrder)
(JNIEnv* env, jobject, jbyteArray primary, jbyteArray secondary, jbyteArray basis, jbyteArray out) {
  return CallAPI([&](const TAPITable& api) {
    const TOrderPair orders = ReadOrderPair(env, primary, secondary, out);
    const auto record = ReadRecord<BasisStruct>(env, basis, "basis");
    OrderIDPair pair{};
    CheckResult(api, api.vnAddBasisOrder(&orders.Primary, &orders.Secondary, &record, &pair));
    WriteBytes(env, out, &pair, sizeof pair);
    return 0;
  });
}

VN_NATIVE(addAAOrder)
(JNIEnv* env, jobject, jbyteArray primary, jbyteArray secondary, jstring userName,
 jstring userName2, jbyteArray out) {
  return CallAPI([&](const TAPITable& api) {
    const TOrderPair orders = ReadOrderPair(env, primary, secondary, out);
    const std::string user = ReadJavaString(env, userName);
    const std::string user2 = ReadJavaString(env, userName2);
    OrderIDPair pair{};
    CheckResult(api, api.vnAddAAOrder(&orders.Primary, &orders.Secondary, user.c_str(),
                                      user2.c_str(), &pair));
    WriteBytes(env, out, &pair, sizeof pair);
    return 0;
  });
}

VN_NATIVE(amendOrder)(JNIEnv* env, jobject, jstring orderId, jbyteArray amendment) {
  return CallAPI([&](const TAPITable& api) {
    const auto record = ReadRecord<AmendOrderStruct>(env, amendment, "amendment");
    CheckResult(api, api.vnAmendOrder(ReadJavaString(env, orderId).c_str(), &record));
    return 0;
  });
}

VN_NATIVE(reparentOrder)(JNIEnv* env, jobject, jstring orderId, jstring newParentId) {
  return CallAPI([&](const TAPITable& api) {
    const std::string id = ReadJavaString(env, orderId);
    const std::string parent = ReadJavaString(env, newParentId);
    CheckResult(api, api.vnReParent(id.c_str(), parent.c_str()));
    return 0;
  });
}

// Every leg text is read; the first 16 become records, and the count the API is given is
// clamped to 0..16 so it never reads past them. A malformed leg gives 99, nothing sent.
VN_NATIVE(createStrategy)
(JNIEnv* env, jobject, jchar strategyType, jint legCount, jstring exchange, jstring commodity,
 jobjectArray legs) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, legs, 0, "legs");
    const TStrategyLegs records = BuildStrategyLegs(ReadJavaStrings(env, legs));
    const std::string exchangeText = ReadJavaString(env, exchange);
    const std::string commodityText = ReadJavaString(env, commodity);
    CheckResult(api,
                api.vnCreateStrategy(static_cast<char>(strategyType), ClampLegCount(legCount),
                                     exchangeText.c_str(), commodityText.c_str(), records.data()));
    return 0;
  });
}

}  // extern "C"
