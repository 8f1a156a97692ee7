/* Compiled as C: the interface header must stay plain C. Fills a few records through their C
   field names so that IntfTest can check where the bytes land. */
#include <string.h>

#include "vornintf.h"

static void VN_STDCALL OnOrder(const OrderUpdateStruct* update) {
  (void)update;
}
static void VN_STDCALL OnNotify(void) {}

void IntfFillFromC(NewOrderStruct* order, OrderDetailStruct* detail, PriceStruct* prices,
                   SettlementStruct* settlement) {
  VnOrderProc orderProc = OnOrder;
  VnNotifyProc notifyProc = OnNotify;
  (void)orderProc;
  (void)notifyProc;

  order->BuySell = VN_SIDE_SELL;
  strcpy(order->ESARef, "ESA");
  order->Priority = 0x01020304;
  memcpy(order->TicketVersion, "TV1", 4);
  strcpy(order->RoutingID2, "R2");

  detail->Status = VN_OSC_HELD_ORDER;
  strcpy(detail->QuoteID, "Q");
  detail->UUIDState = VN_STATE_EXPIRED;
  strcpy(detail->RoutingID2, "R2");

  prices->Entries[VN_PK_LAST_TRADE].Volume = 7;
  prices->ChangeMask = VN_PM_TRADES | VN_PM_SETTLEMENT;

  settlement->Key.ContractDate[0] = 'Z';
  strcpy(settlement->SettlementDate, "070509");
  strcpy(settlement->SettlementTime, "123000");
}
