// The ClientAPI natives that pass texts, numbers or flags to the API and get nothing back but
// its result: subscriptions, cancels, connection and log settings. A Java boolean crosses as
// 'Y' or 'N', a Java char as its low 8 bits.

#include <jni.h>

#include <array>
#include <string>

#include "quorvex_api_binding_ClientAPI.h"
#include "vornjni/JavaArgs.h"

namespace {

using namespace vorn::bridge;

template <typename... Strings>
std::array<std::string, sizeof...(Strings)> Texts(JNIEnv* env, Strings... strings) {
  return {ReadJavaString(env, strings)...};
}

// call(api) gives the export's result, passed through CheckResult.
template <typename F>
jint Checked(F&& call) {
  return CallAPI([&](const TAPITable& api) {
    CheckResult(api, call(api));
    return 0;
  });
}

// call(api) runs a void export, or one whose result is not checked.
template <typename F>
jint Unchecked(F&& call) {
  return CallAPI([&](const TAPITable& api) {
    call(api);
    return 0;
  });
}

}  // namespace

#define VN_NATIVE(name) JNIEXPORT jint JNICALL Java_quorvex_api_binding_ClientAPI_##name

extern "C" {

VN_NATIVE(purge)(JNIEnv* env, jobject, jstring date, jstring time) {
  return Unchecked([&](const TAPITable& api) {
    const auto t = Texts(env, date, time);
    api.vnPurge(t[0].c_str(), t[1].c_str());
  });
}

VN_NATIVE(setPriceAgeCounter)(JNIEnv*, jobject, jint count) {
  return Checked([&](const TAPITable& api) { return api.vnSetPriceAgeCounter(count); });
}

#define VN_CONTRACT_CALL(name, exportName)                                                    \
  VN_NATIVE(name)(JNIEnv * env, jobject, jstring exchange, jstring commodity, jstring date) { \
    return Checked([&](const TAPITable& api) {                                                \
      const auto t = Texts(env, exchange, commodity, date);                                   \
      return api.exportName(t[0].c_str(), t[1].c_str(), t[2].c_str());                        \
    });                                                                                       \
  }
VN_CONTRACT_CALL(subscribe, vnSubscribePrice)
VN_CONTRACT_CALL(unsubscribe, vnUnsubscribePrice)
VN_CONTRACT_CALL(subscribeToMarket, vnSubscribeToMarket)
VN_CONTRACT_CALL(unsubscribeToMarket, vnUnsubscribeToMarket)
#undef VN_CONTRACT_CALL

VN_NATIVE(checkOrder)(JNIEnv* env, jobject, jstring orderId, jboolean checked) {
  return Checked([&](const TAPITable& api) {
    return api.vnOrderChecked(ReadJavaString(env, orderId).c_str(), Flag(checked));
  });
}

#define VN_TEXT_CALL(name, exportName)                                                            \
  VN_NATIVE(name)(JNIEnv * env, jobject, jstring text) {                                          \
    return Checked(                                                                               \
        [&](const TAPITable& api) { return api.exportName(ReadJavaString(env, text).c_str()); }); \
  }
VN_TEXT_CALL(queryOrder, vnQueryOrderStatus)
VN_TEXT_CALL(cancelOrder, vnCancelOrder)
VN_TEXT_CALL(cancelAll, vnCancelAll)
VN_TEXT_CALL(setSSLCertName, vnSetSSLCertificateName)
VN_TEXT_CALL(setPDDSSLCertName, vnSetPDDSSLCertificateName)
VN_TEXT_CALL(setSSLClientAuthName, vnSetSSLClientAuthName)
VN_TEXT_CALL(setPDDSSLClientAuthName, vnSetPDDSSLClientAuthName)
VN_TEXT_CALL(setMDSToken, vnSetMDSToken)
VN_TEXT_CALL(subscribeToBroadcasts, vnSubscribeBroadcast)
VN_TEXT_CALL(unSubscribeFromBroadcasts, vnUnsubscribeBroadcast)
VN_TEXT_CALL(acknowledgeUsrMsg, vnAcknowledgeUsrMsg)
#undef VN_TEXT_CALL

// Java gives (exchange, commodity, date, account); the exports take the account first.
#define VN_CANCEL_CALL(name, exportName)                                                        \
  VN_NATIVE(name)                                                                               \
  (JNIEnv * env, jobject, jstring exchange, jstring commodity, jstring date, jstring account) { \
    return Checked([&](const TAPITable& api) {                                                  \
      const auto t = Texts(env, exchange, commodity, date, account);                            \
      return api.exportName(t[3].c_str(), t[0].c_str(), t[1].c_str(), t[2].c_str());            \
    });                                                                                         \
  }
VN_CANCEL_CALL(cancelBuys, vnCancelBuys)
VN_CANCEL_CALL(cancelSells, vnCancelSells)
VN_CANCEL_CALL(cancelOrders, vnCancelOrders)
#undef VN_CANCEL_CALL

VN_NATIVE(closeConnections)(JNIEnv*, jobject) {
  return Checked([](const TAPITable& api) { return api.vnDisconnect(); });
}

VN_NATIVE(LogString)(JNIEnv* env, jobject, jstring text) {
  return Unchecked(
      [&](const TAPITable& api) { api.vnLogString(ReadJavaString(env, text).c_str()); });
}

#define VN_FLAG_CALL(name, exportName)                                                \
  VN_NATIVE(name)(JNIEnv*, jobject, jboolean flag) {                                  \
    return Checked([&](const TAPITable& api) { return api.exportName(Flag(flag)); }); \
  }
VN_FLAG_CALL(setOMIEnabled, vnOMIEnabled)
VN_FLAG_CALL(setInternetUser, vnSetInternetUser)
VN_FLAG_CALL(setSSLEnabled, vnSetSSL)
VN_FLAG_CALL(setPDDSSLEnabled, vnSetPDDSSL)
VN_FLAG_CALL(setMegaHubEnabled, vnSetMegaHub)
#undef VN_FLAG_CALL

VN_NATIVE(setEncryptionCode)(JNIEnv*, jobject, jchar code) {
  return Unchecked([&](const TAPITable& api) { api.vnSetEncryptionCode(static_cast<char>(code)); });
}

VN_NATIVE(setHostHandShakePeriods)(JNIEnv*, jobject, jint interval, jint timeOut) {
  return Unchecked([&](const TAPITable& api) { api.vnSetHostHandShake(interval, timeOut); });
}

VN_NATIVE(setPriceHandShakePeriods)(JNIEnv*, jobject, jint interval, jint timeOut) {
  return Unchecked([&](const TAPITable& api) { api.vnSetPriceHandShake(interval, timeOut); });
}

#define VN_DELAY_CALL(name, exportName)                                       \
  VN_NATIVE(name)(JNIEnv*, jobject, jint seconds) {                           \
    return Unchecked([&](const TAPITable& api) { api.exportName(seconds); }); \
  }
VN_DELAY_CALL(setOrderCancelFailureDelay, vnSetOrderCancelFailureDelay)
VN_DELAY_CALL(setOrderSentFailureDelay, vnSetOrderSentFailureDelay)
VN_DELAY_CALL(setOrderQueuedFailureDelay, vnSetOrderQueuedFailureDelay)
#undef VN_DELAY_CALL

VN_NATIVE(setDebugFlags)(JNIEnv*, jobject, jint flags) {
  return Unchecked([&](const TAPITable& api) {
    api.vnDisable(-1);
    api.vnEnable(flags);
  });
}

// The export's result as it is, without the result check; 52 rather than a call through a
// null entry when no library is loaded.
VN_NATIVE(setMemoryWarning)(JNIEnv*, jobject, jint percent) {
  const auto lock = APILibrary().Share();
  const TAPITable& api = APILibrary().Table();
  if (!api.vnSetMemoryWarning) return kLibraryNotLoaded;
  return api.vnSetMemoryWarning(percent);
}

}  // extern "C"
