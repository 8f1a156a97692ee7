// The ClientAPI natives that read from the API: counters, records by index, records by key,
// numbers the API writes as text, and the special outputs. Each output array is checked
// against its record before the export is called; the output is written only when the export
// answered 0 or 11.

#include <jni.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvex_api_binding_ClientAPI.h"
#include "vornjni/JavaArgs.h"
#include "vornjni/core/Marshal.h"

namespace {

using namespace vorn::bridge;

template <typename... Strings>
std::array<std::string, sizeof...(Strings)> Texts(JNIEnv* env, Strings... strings) {
  return {ReadJavaString(env, strings)...};
}

// call(api, &count) fills out[0].
template <typename F>
jint Counter(JNIEnv* env, jintArray out, F&& call) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, 1, "out");
    std::int32_t count = 0;
    CheckResult(api, call(api, &count));
    WriteInts(env, out, &count, 1);
    return 0;
  });
}

// call(api, record) fills a zero-filled native buffer of Bytes, copied whole into out.
template <typename Record, std::size_t Bytes = sizeof(Record), typename F>
jint RecordOut(JNIEnv* env, jbyteArray out, F&& call) {
  static_assert(Bytes >= sizeof(Record));
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, Bytes, "out");
    unsigned char buffer[Bytes] = {};
    CheckResult(api, call(api, reinterpret_cast<Record*>(buffer)));
    WriteBytes(env, out, buffer, Bytes);
    return 0;
  });
}

// call(api, text) writes a number as text; out[0] receives its value.
template <typename F>
jint NumberOut(JNIEnv* env, jdoubleArray out, F&& call) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, 1, "out");
    char text[kNumberTextBytes] = {};
    CheckResult(api, call(api, text));
    WriteDouble(env, out, NumberFromText(text, sizeof text));
    return 0;
  });
}

}  // namespace

#define VN_NATIVE(name) JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_##name

extern "C" {

// ---- Counters ----

#define VN_COUNTER(name, exportName)                                                         \
  VN_NATIVE(name)(JNIEnv * env, jobject, jintArray out) {                                    \
    return Counter(env, out,                                                                 \
                   [](const TAPITable& api, std::int32_t* n) { return api.exportName(n); }); \
  }
VN_COUNTER(countAccounts, vnCountTraders)
VN_COUNTER(countExchanges, vnCountExchanges)
VN_COUNTER(countCommodities, vnCountCommodities)
VN_COUNTER(countOrderTypes, vnCountOrderTypes)
VN_COUNTER(countOrders, vnCountOrders)
VN_COUNTER(countFills, vnCountFills)
VN_COUNTER(countContracts, vnCountContracts)
VN_COUNTER(countReportTypes, vnCountReportTypes)
VN_COUNTER(countMessages, vnCountUsrMsgs)
VN_COUNTER(nextOrderSequence, vnNextOrderSequence)
#undef VN_COUNTER

VN_NATIVE(countOrderHistory)(JNIEnv* env, jobject, jint index, jintArray out) {
  return Counter(env, out, [&](const TAPITable& api, std::int32_t* n) {
    return api.vnCountOrderHistory(index, n);
  });
}

VN_NATIVE(getOrderIndex)(JNIEnv* env, jobject, jstring orderId, jintArray out) {
  return Counter(env, out, [&](const TAPITable& api, std::int32_t* n) {
    return api.vnGetOrderIndex(ReadJavaString(env, orderId).c_str(), n);
  });
}

VN_NATIVE(getReportSize)(JNIEnv* env, jobject, jstring reportType, jintArray out) {
  return Counter(env, out, [&](const TAPITable& api, std::int32_t* n) {
    return api.vnGetReportSize(ReadJavaString(env, reportType).c_str(), n);
  });
}

VN_NATIVE(countContractAtBest)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jintArray out) {
  return Counter(env, out, [&](const TAPITable& api, std::int32_t* n) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnCountContractAtBest(t[0].c_str(), t[1].c_str(), t[2].c_str(), n);
  });
}

VN_NATIVE(countContractSubscriberDepth)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jintArray out) {
  return Counter(env, out, [&](const TAPITable& api, std::int32_t* n) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnCountContractSubscriberDepth(t[0].c_str(), t[1].c_str(), t[2].c_str(), n);
  });
}

// ---- Records by index ----

#define VN_BY_INDEX(name, exportName, Record, bytes)                                          \
  VN_NATIVE(name)(JNIEnv * env, jobject, jint index, jbyteArray out) {                        \
    return RecordOut<Record, bytes>(                                                          \
        env, out, [&](const TAPITable& api, Record* r) { return api.exportName(index, r); }); \
  }
VN_BY_INDEX(getAccount, vnGetTrader, TraderAcctStruct, kTraderBytes)
VN_BY_INDEX(getExchange, vnGetExchange, ExchangeStruct, sizeof(ExchangeStruct))
VN_BY_INDEX(getCommodity, vnGetCommodity, CommodityStruct, sizeof(CommodityStruct))
VN_BY_INDEX(getOrderType, vnGetOrderType, OrderTypeStruct, kOrderTypeBytes)
VN_BY_INDEX(getOrder, vnGetOrder, OrderDetailStruct, sizeof(OrderDetailStruct))
VN_BY_INDEX(getFill, vnGetFill, FillStruct, sizeof(FillStruct))
VN_BY_INDEX(getContract, vnGetExtendedContract, ExtendedContractStruct,
            sizeof(ExtendedContractStruct))
VN_BY_INDEX(getReportType, vnGetReportType, ReportTypeStruct, sizeof(ReportTypeStruct))
VN_BY_INDEX(getMessage, vnGetUsrMsg, MessageStruct, sizeof(MessageStruct))
#undef VN_BY_INDEX

VN_NATIVE(getOrderHistory)(JNIEnv* env, jobject, jint index, jint historyIndex, jbyteArray out) {
  return RecordOut<OrderDetailStruct>(env, out, [&](const TAPITable& api, OrderDetailStruct* r) {
    return api.vnGetOrderHistory(index, historyIndex, r);
  });
}

// ---- Records by key ----

VN_NATIVE(getContractByName)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jbyteArray out) {
  return RecordOut<ExtendedContractStruct>(
      env, out, [&](const TAPITable& api, ExtendedContractStruct* r) {
        const auto t = Texts(env, exchange, commodity, date);
        return api.vnGetExtendedContractByName(t[0].c_str(), t[1].c_str(), t[2].c_str(), r);
      });
}

VN_NATIVE(getAccountByName)(JNIEnv* env, jobject, jstring account, jbyteArray out) {
  return RecordOut<TraderAcctStruct, kTraderBytes>(
      env, out, [&](const TAPITable& api, TraderAcctStruct* r) {
        return api.vnGetTraderByName(ReadJavaString(env, account).c_str(), r);
      });
}

VN_NATIVE(getExchangeByName)(JNIEnv* env, jobject, jstring exchange, jbyteArray out) {
  return RecordOut<ExchangeStruct>(env, out, [&](const TAPITable& api, ExchangeStruct* r) {
    return api.vnGetExchangeByName(ReadJavaString(env, exchange).c_str(), r);
  });
}

VN_NATIVE(getCommodityByName)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jbyteArray out) {
  return RecordOut<CommodityStruct>(env, out, [&](const TAPITable& api, CommodityStruct* r) {
    const auto t = Texts(env, exchange, commodity);
    return api.vnGetCommodityByName(t[0].c_str(), t[1].c_str(), r);
  });
}

VN_NATIVE(getContractPrices)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jbyteArray out) {
  return RecordOut<PriceStruct>(env, out, [&](const TAPITable& api, PriceStruct* r) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnGetPriceForContract(t[0].c_str(), t[1].c_str(), t[2].c_str(), r);
  });
}

VN_NATIVE(getGenericPrice)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jint priceType,
 jint priceLevel, jbyteArray out) {
  return RecordOut<GenericPriceStruct>(env, out, [&](const TAPITable& api, GenericPriceStruct* r) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnGetGenericPrice(t[0].c_str(), t[1].c_str(), t[2].c_str(), priceType, priceLevel,
                                 r);
  });
}

VN_NATIVE(getOrderById)(JNIEnv* env, jobject, jstring orderId, jint version, jbyteArray out) {
  return RecordOut<OrderDetailStruct>(env, out, [&](const TAPITable& api, OrderDetailStruct* r) {
    return api.vnGetOrderByID(ReadJavaString(env, orderId).c_str(), r, version);
  });
}

VN_NATIVE(getFillById)(JNIEnv* env, jobject, jstring fillId, jbyteArray out) {
  return RecordOut<FillStruct>(env, out, [&](const TAPITable& api, FillStruct* r) {
    return api.vnGetFillByID(ReadJavaString(env, fillId).c_str(), r);
  });
}

VN_NATIVE(getExchangeRate)(JNIEnv* env, jobject, jstring currency, jbyteArray out) {
  return RecordOut<ExchangeRateStruct>(env, out, [&](const TAPITable& api, ExchangeRateStruct* r) {
    return api.vnGetExchangeRate(ReadJavaString(env, currency).c_str(), r);
  });
}

VN_NATIVE(getContractAtBest)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jint index,
 jbyteArray out) {
  return RecordOut<AtBestStruct>(env, out, [&](const TAPITable& api, AtBestStruct* r) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnGetContractAtBest(t[0].c_str(), t[1].c_str(), t[2].c_str(), index, r);
  });
}

VN_NATIVE(getContractAtBestPrices)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jbyteArray out) {
  return RecordOut<AtBestPriceStruct>(env, out, [&](const TAPITable& api, AtBestPriceStruct* r) {
    const auto t = Texts(env, exchange, commodity, date);
    return api.vnGetContractAtBestPrices(t[0].c_str(), t[1].c_str(), t[2].c_str(), r);
  });
}

VN_NATIVE(openPosition)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jstring account,
 jbyteArray out) {
  return RecordOut<PositionStruct>(env, out, [&](const TAPITable& api, PositionStruct* r) {
    const auto t = Texts(env, exchange, commodity, date, account);
    return api.vnGetOpenPosition(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), r);
  });
}

VN_NATIVE(contractPosition)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jstring account,
 jbyteArray out) {
  return RecordOut<PositionStruct>(env, out, [&](const TAPITable& api, PositionStruct* r) {
    const auto t = Texts(env, exchange, commodity, date, account);
    return api.vnGetContractPosition(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), r);
  });
}

VN_NATIVE(getContractSubscriberDepth)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jint index,
 jbyteArray out) {
  return RecordOut<SubscriberDepthStruct>(
      env, out, [&](const TAPITable& api, SubscriberDepthStruct* r) {
        const auto t = Texts(env, exchange, commodity, date);
        return api.vnGetContractSubscriberDepth(t[0].c_str(), t[1].c_str(), t[2].c_str(), index, r);
      });
}

VN_NATIVE(APIBuildVersion)(JNIEnv* env, jobject, jbyteArray out) {
  return RecordOut<BuildVersionStruct>(env, out, [](const TAPITable& api, BuildVersionStruct* r) {
    return api.vnGetAPIBuildVersion(r);
  });
}

// The room is the Java array's length; the whole array receives the report.
VN_NATIVE(getReport)(JNIEnv* env, jobject, jstring reportType, jbyteArray out) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, 0, "out");
    const jsize room = env->GetArrayLength(out);
    std::vector<char> buffer(static_cast<std::size_t>(room) + 1, '\0');
    CheckResult(api, api.vnGetReport(ReadJavaString(env, reportType).c_str(), room, buffer.data()));
    WriteBytes(env, out, buffer.data(), static_cast<std::size_t>(room));
    return 0;
  });
}

// ---- Numbers as text ----

#define VN_NUMBER(name, exportName)                                                           \
  VN_NATIVE(name)                                                                             \
  (JNIEnv * env, jobject, jstring exchange, jstring commodity, jstring date, jstring account, \
   jdoubleArray out) {                                                                        \
    return NumberOut(env, out, [&](const TAPITable& api, char* text) {                        \
      const auto t = Texts(env, exchange, commodity, date, account);                          \
      return api.exportName(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), text);    \
    });                                                                                       \
  }
VN_NUMBER(pLBurnRate, vnPLBurnRate)
VN_NUMBER(openPositionExposure, vnOpenPositionExposure)
VN_NUMBER(buyingPowerRemaining, vnBuyingPowerRemaining)
VN_NUMBER(buyingPowerUsed, vnBuyingPowerUsed)
VN_NUMBER(averagePrice, vnGetAveragePrice)
#undef VN_NUMBER

VN_NATIVE(marginForTrade)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jstring account,
 jint lots, jstring orderId, jstring price, jdoubleArray out) {
  return NumberOut(env, out, [&](const TAPITable& api, char* text) {
    const auto t = Texts(env, exchange, commodity, date, account, orderId, price);
    const std::int32_t lotCount = lots;
    return api.vnMarginForTrade(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str(), &lotCount,
                                t[4].c_str(), t[5].c_str(), text);
  });
}

VN_NATIVE(getOptionPremium)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jstring side,
 jstring price, jint lots, jdoubleArray out) {
  return NumberOut(env, out, [&](const TAPITable& api, char* text) {
    const auto t = Texts(env, exchange, commodity, date, side, price);
    return api.vnGetOptionPremium(t[0].c_str(), t[1].c_str(), t[2].c_str(), t[3].c_str()[0],
                                  t[4].c_str(), lots, text);
  });
}

// ---- Special outputs ----

VN_NATIVE(getEnabledFunctionality)(JNIEnv* env, jobject, jintArray out) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, 2, "out");
    std::int32_t masks[2] = {};
    CheckResult(api, api.vnEnabledFunctionality(&masks[0], &masks[1]));
    WriteInts(env, out, masks, 2);
    return 0;
  });
}

// vnMegaHubEnabled answers 0 when the API object exists, as the depth flags do.
VN_NATIVE(isMegaHub)(JNIEnv* env, jobject, jbooleanArray out) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, out, 1, "out");
    WriteBoolean(env, out, api.vnMegaHubEnabled() == 0);
    return 0;
  });
}

// The record starts as the array's first bytes (zeros past a shorter array), and as many bytes
// come back, so the caller sees the figures.
VN_NATIVE(getConsolidatedPosition)
(JNIEnv* env, jobject, jstring exchange, jstring commodity, jstring date, jstring account,
 jint mode, jbyteArray record) {
  return CallAPI([&](const TAPITable& api) {
    RequireLength(env, record, 0, "record");
    const std::size_t bytes = std::min<std::size_t>(
        static_cast<std::size_t>(env->GetArrayLength(record)), sizeof(FillStruct));
    FillStruct position{};
    ReadBytes(env, record, &position, bytes, "record");
    const auto t = Texts(env, exchange, commodity, date, account);
    CheckResult(api, api.vngetConsolidatedPosition(t[0].c_str(), t[1].c_str(), t[2].c_str(),
                                                   t[3].c_str(), mode, &position));
    WriteBytes(env, record, &position, bytes);
    return 0;
  });
}

}  // extern "C"
