/*
 * vornintf.h - the exported interface of vornapi and simapi.
 *
 * Plain C, usable from C and C++. Every record is packed to byte boundaries and has a static
 * size check: the sizes are part of the interface. Text fields hold 8-bit text NUL-terminated
 * within their width (at most width - 1 characters); 'Y'/'N' flags are single characters;
 * integers are 32-bit little-endian.
 *
 * Threads. The exports may be called from any thread. They return result codes (the few
 * declared otherwise return their own values) and never throw: a failure inside the library is
 * recorded as the last error and answered with VN_RC_UNEXPECTED_ERROR. The registered callback
 * procedures run on one thread of the library, one at a time, in the order their events were
 * posted, with no lock of the library held while they run; a procedure may call the exports,
 * vnLogOff included. A pointer passed to a procedure is valid only during the call: copy what
 * must be kept.
 */
#ifndef VORNINTF_H
#define VORNINTF_H

#include <stdint.h>

#if defined(__i386__)
#define VN_STDCALL __attribute__((stdcall))
#else
#define VN_STDCALL
#endif

#define VN_API __attribute__((visibility("default")))

#if defined(__cplusplus)
#define VN_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define VN_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#else
#define VN_STATIC_ASSERT_JOIN2(a, b) a##b
#define VN_STATIC_ASSERT_JOIN(a, b) VN_STATIC_ASSERT_JOIN2(a, b)
#define VN_STATIC_ASSERT(cond, msg) \
  typedef char VN_STATIC_ASSERT_JOIN(vn_static_assert_, __LINE__)[(cond) ? 1 : -1]
#endif

#define VN_CHECK_SIZE(type, size) \
  VN_STATIC_ASSERT(sizeof(type) == (size), #type " must be " #size " bytes")

/* The interface version an application passes to vnInitialise. */
#define VN_INTERFACE_VERSION "v2.8.3"

/* Exports of vornapi and simapi; the Java bridge binds all but the six ending in "Ex". */
#define VN_EXPORT_COUNT 167
#define VN_BRIDGE_EXPORT_COUNT 161

/* ---- Constants -------------------------------------------------------------------------- */

/* Result codes; vnGetErrorMessage gives their texts. */
enum {
  VN_RC_SUCCESS = 0,
  VN_RC_NOT_INITIALISED = 1,
  VN_RC_CALLBACKS_NOT_SET = 2,
  VN_RC_UNKNOWN_CALLBACK_ID = 3,
  VN_RC_NOT_LOGGED_ON = 4,
  VN_RC_OLD_PASSWORD_INCORRECT = 5,
  VN_RC_PASSWORD_BLANK = 6,
  VN_RC_NOT_ENABLED = 7,
  VN_RC_INVALID_INDEX = 8,
  VN_RC_TRADER_ACCOUNT_NOT_FOUND = 9,
  VN_RC_NO_DATA = 10,
  VN_RC_GENERIC_ERROR = 11,
  VN_RC_UNUSED_12 = 12,
  VN_RC_VERSION_MISMATCH = 13,
  VN_RC_BAD_MESSAGE_TYPE = 14,
  VN_RC_MSG_ID_NOT_FOUND = 15,
  VN_RC_REPORT_NO_ROOM = 16,
  VN_RC_NEW_PASSWORD_NOT_TEXT = 17,
  VN_RC_NOT_CONNECTED = 18,
  VN_RC_UNKNOWN_CURRENCY = 19,
  VN_RC_NO_MATCHING_REPORT = 20,
  VN_RC_UNKNOWN_ORDER_TYPE = 21,
  VN_RC_UNKNOWN_CONTRACT = 22,
  VN_RC_UNKNOWN_COMMODITY = 23,
  VN_RC_PRICE_REQUIRED = 24,
  VN_RC_INVALID_ORDER_ID = 25,
  VN_RC_INVALID_ORDER_STATE = 26,
  VN_RC_INVALID_PRICE = 27,
  VN_RC_PRICE_NOT_REQUIRED = 28,
  VN_RC_INVALID_LOTS = 29,
  VN_RC_AMEND_NOT_ENABLED = 30,
  VN_RC_QUERY_NOT_ENABLED = 31,
  VN_RC_UNKNOWN_EXCHANGE = 32,
  VN_RC_NO_VALID_FILL = 33,
  VN_RC_ACCOUNT_VIEW_ONLY = 34,
  VN_RC_HOST_NOT_CONNECTED = 35,
  VN_RC_PRICE_FEED_NOT_CONNECTED = 36,
  VN_RC_NEW_PASSWORD_NOT_ALPHANUMERIC = 37,
  VN_RC_NO_UNDERLYING_CONTRACT = 38,
  VN_RC_ORDER_TYPE_NOT_ALLOWED = 39,
  VN_RC_HOST_DATABASE_NOT_CONNECTED = 40,
  VN_RC_CROSSING_MARKETS_DIFFER = 41,
  VN_RC_CROSSING_TYPES_DIFFER = 42,
  VN_RC_DUPLICATE_ORDER_MESSAGE = 43,
  VN_RC_INVALID_VARIABLE_TICK_SIZE = 44,
  VN_RC_INVALID_PARENT_ORDER_ID = 45,
  VN_RC_DONE_FOR_DAY_NOT_ALLOWED = 46,
  VN_RC_ORDER_HELD_IN_QUEUE = 47,
  VN_RC_CONTRACT_NOT_PERMITTED = 48,
  VN_RC_CONTRACT_DECOMPRESS_FAILED = 49,
  VN_RC_MARKET_FROZEN = 50,
  VN_RC_CANCELLED_EXCHANGE_CLOSING = 51,
  VN_RC_UNEXPECTED_ERROR = 99
};

/* Callback ids (0, 20, 34 and 35 are not used). */
enum {
  VN_CB_HOST_LINK_STATE_CHANGE = 1,
  VN_CB_PRICE_STATE_CHANGE = 2,
  VN_CB_LOGON_STATUS = 3,
  VN_CB_MESSAGE = 4,
  VN_CB_ORDER = 5,
  VN_CB_FORCED_LOGOUT = 6,
  VN_CB_DATA_DL_COMPLETE = 7,
  VN_CB_PRICE_UPDATE = 8,
  VN_CB_FILL = 9,
  VN_CB_STATUS_CHANGE = 10,
  VN_CB_CONTRACT_ADDED = 11,
  VN_CB_CONTRACT_DELETED = 12,
  VN_CB_EXCHANGE_RATE = 13,
  VN_CB_CONNECTIVITY_STATUS = 14,
  VN_CB_ORDER_CANCEL_FAILURE = 15,
  VN_CB_AT_BEST_UPDATE = 16,
  VN_CB_TICKER_UPDATE = 17,
  VN_CB_MEMORY_WARNING = 18,
  VN_CB_SUBSCRIBER_DEPTH_UPDATE = 19,
  VN_CB_DOM_UPDATE = 21,
  VN_CB_SETTLEMENT = 22,
  VN_CB_STRATEGY_CREATE_SUCCESS = 23,
  VN_CB_STRATEGY_CREATE_FAILURE = 24,
  VN_CB_AMEND_FAILURE = 25,
  VN_CB_GENERIC_PRICE_UPDATE = 26,
  VN_CB_BLANK_PRICES = 27,
  VN_CB_ORDER_SENT_FAILURE = 28,
  VN_CB_ORDER_QUEUED_FAILURE = 29,
  VN_CB_ORDER_BOOK_RESET = 30,
  VN_CB_EXCHANGE_UPDATED = 31,
  VN_CB_COMMODITY_UPDATED = 32,
  VN_CB_CONTRACT_UPDATE = 33,
  VN_CB_PURGE_COMPLETED = 36,
  VN_CB_TRADER_ADDED = 37,
  VN_CB_ORDER_TYPE_UPDATE = 38
};

/* Size of the payload area of a queued event; no payload is larger. */
#define VN_CALLBACK_PAYLOAD_SIZE 501
/* Width of the single-text payloads (message id, currency, exchange name). */
#define VN_TEXT_PAYLOAD_SIZE 11

/* Link states in LinkStateStruct. */
enum {
  VN_LINK_OPENED = 1,
  VN_LINK_CONNECTING = 2,
  VN_LINK_CONNECTED = 3,
  VN_LINK_CLOSED = 4,
  VN_LINK_OTHER = 5
};

/* Order states (OrderUpdateStruct.Status). */
enum {
  VN_OS_ILLEGAL = 0,
  VN_OS_QUEUED = 1,
  VN_OS_SENT = 2,
  VN_OS_WORKING = 3,
  VN_OS_REJECTED = 4,
  VN_OS_CANCELLED = 5,
  VN_OS_BAL_CANCELLED = 6,
  VN_OS_PART = 7,
  VN_OS_UNABLED = 8,
  VN_OS_BAL_UNABLED = 9,
  VN_OS_FILLED = 10,
  VN_OS_CANCEL_PENDING = 11,
  VN_OS_AMEND_PENDING = 12,
  VN_OS_ORPI_FILLED = 13,
  VN_OS_ORPI_PART = 14,
  VN_OS_HELD_ORDER = 15,
  VN_OS_CANC_HELD_ORDER = 16,
  VN_OS_PART_REJECTED = 17,
  VN_OS_PARKED = 18,
  VN_OS_CANCEL_PARKED = 19,
  VN_OS_TRANSFERRED = 20,
  VN_OS_EXTERNAL_CANCELLED = 21
};

/* Status codes of OrderDetailStruct.Status: the order states renumbered; states the interface
   does not report read 0. */
enum {
  VN_OSC_NOT_REPORTED = 0,
  VN_OSC_QUEUED = 1,
  VN_OSC_SENT = 2,
  VN_OSC_WORKING = 3,
  VN_OSC_REJECTED = 4,
  VN_OSC_CANCELLED = 5,
  VN_OSC_BAL_CANCELLED = 6,
  VN_OSC_PART = 7,
  VN_OSC_FILLED = 8,
  VN_OSC_CANCEL_PENDING = 9,
  VN_OSC_AMEND_PENDING = 10,
  VN_OSC_ORPI_FILLED = 11,
  VN_OSC_ORPI_PART = 12,
  VN_OSC_HELD_ORDER = 13,
  VN_OSC_CANC_HELD_ORDER = 14,
  VN_OSC_TRANSFERRED = 20,
  VN_OSC_EXTERNAL_CANCELLED = 21
};

/* Order type codes (OrderTypeStruct.OrderTypeID); codes range over 0..500. */
enum {
  VN_OT_MARKET = 1,
  VN_OT_LIMIT = 2,
  VN_OT_STOP = 5,
  VN_OT_SYNTHETIC_STOP = 6,
  VN_OT_SYNTHETIC_STOP_LIMIT = 7,
  VN_OT_SYNTHETIC_MIT = 9,
  VN_OT_SYNTHETIC_MLM = 19,
  VN_OT_AGGREGATE_ORDER = 25,
  VN_OT_CROSSING = 42,
  VN_OT_BASIS = 43,
  VN_OT_BLOCK = 44,
  VN_OT_AGAINST_ACTUAL = 45,
  VN_OT_CROSSING_FAK = 46,
  VN_OT_RFQI = 47,
  VN_OT_RFQT = 48,
  VN_OT_GTC_LIMIT = 51,
  VN_OT_GTD_STOP_LIMIT = 53,
  VN_OT_GTD_LIMIT = 54,
  VN_OT_ICEBERG = 130,
  VN_OT_GHOST = 131,
  VN_OT_TR_STOP = 133,
  VN_OT_PROTECT = 134,
  VN_OT_MAX = 500
};

/* FillStruct.FillType. */
enum { VN_FT_OTHER = 0, VN_FT_FILL = 1, VN_FT_EXTERNAL = 2, VN_FT_NETTED = 3, VN_FT_RETAINED = 5 };

/* Object state of reference items, fills and orders (the UUIDState fields). */
enum { VN_STATE_UNDEFINED = 0, VN_STATE_ACTIVE = 1, VN_STATE_INACTIVE = 2, VN_STATE_EXPIRED = 3 };

/* ExchangeStruct.StrategyCreator. */
enum { VN_SC_NONE = 0, VN_SC_VORN = 1, VN_SC_STRATEGY_CREATOR = 2 };

/* Debug flags of vnEnable and vnDisable. */
enum {
  VN_DEBUG_DEBUGGING = 1,
  VN_DEBUG_HOST_LOG = 2,
  VN_DEBUG_PRICE_FEED_LOG = 4,
  VN_DEBUG_DOM_LOG = 8,
  VN_DEBUG_ORDER_LOG = 16,
  VN_DEBUG_FLUSH_BUG_BUSTER = 32,
  VN_DEBUG_TRACE_APP_CALLS = 64,
  VN_DEBUG_DEBUG_DEBUGGING = 128
};

/* First mask of vnEnabledFunctionality: the bits with a known use. */
enum {
  VN_FEATURE_DOM = 0x1,
  VN_FEATURE_POST_TRADE_AMEND = 0x2,
  VN_FEATURE_MARKET_DATA_REQUIRED = 0x80,
  VN_FEATURE_MARGIN_MODE = 0x200,
  VN_FEATURE_STRATEGY = 0x80000
};

/* Second mask of vnEnabledFunctionality: client roles. */
enum { VN_ROLE_1 = 0x1, VN_ROLE_2 = 0x2, VN_ROLE_3 = 0x4, VN_ROLE_4 = 0x8 };

/* Price kinds: entry index into PriceStruct.Entries. */
enum {
  VN_PK_BID = 0,
  VN_PK_OFFER = 1,
  VN_PK_LAST_TRADE = 5, /* 5..24: last trade, then the 19 before it, newest first */
  VN_PK_OLDEST_TRADE = 24,
  VN_PK_TOTAL_VOLUME = 25,
  VN_PK_HIGH = 26,
  VN_PK_LOW = 27,
  VN_PK_OWN_LAST = 29,
  VN_PK_BID_DEPTH = 30,   /* 30..49: bid depth levels 1..20, best first */
  VN_PK_OFFER_DEPTH = 50, /* 50..69: offer depth levels 1..20, best first */
  VN_PK_DEPTH_LEVELS = 20,
  VN_PK_SETTLEMENT_7 = 75,  /* settlement price of settlement type 7 */
  VN_PK_SETTLEMENT_25 = 76, /* ... of settlement type 25 */
  VN_PK_SETTLEMENT_24 = 77, /* ... of settlement type 24 */
  VN_PK_GENERIC_28_1 = 78,  /* generic price type 28, level 1 */
  VN_PK_GENERIC_28_2 = 79,  /* generic price type 28, level 2 */
  VN_PK_COUNT = 80
};

/* PriceStruct.ChangeMask: one bit per group of price kinds. */
enum {
  VN_PM_BID = 0x1,
  VN_PM_OFFER = 0x2,
  VN_PM_KIND_2 = 0x4,
  VN_PM_KIND_3 = 0x8,
  VN_PM_KIND_4 = 0x10,
  VN_PM_TRADES = 0x20,
  VN_PM_TOTAL_VOLUME = 0x40,
  VN_PM_HIGH = 0x80,
  VN_PM_LOW = 0x100,
  VN_PM_KIND_28 = 0x200,
  VN_PM_OWN_LAST = 0x400,
  VN_PM_BID_DEPTH = 0x800,
  VN_PM_OFFER_DEPTH = 0x1000,
  VN_PM_KINDS_70_74 = 0x2000,
  VN_PM_SETTLEMENT = 0x4000,
  VN_PM_GENERIC_28 = 0x8000
};

/* PriceDetailStruct.Direction. */
enum { VN_DIRECTION_NONE = 0, VN_DIRECTION_UP = 1, VN_DIRECTION_DOWN = 2 };

/* PriceEntry.DirectionHour: direction in the top two bits, hour in the low six. */
enum { VN_PE_UP = 0x40, VN_PE_DOWN = 0x80, VN_PE_HOUR_MASK = 0x3F };

/* Price type and level of vnGetGenericPrice: type 26 selects generic prices 1..4, type 27
   selects 5..8, by level 1..4. */
enum {
  VN_GENERIC_TYPE_26 = 26,
  VN_GENERIC_TYPE_27 = 27,
  VN_GENERIC_LEVEL_MIN = 1,
  VN_GENERIC_LEVEL_MAX = 4
};

/* Mode of vngetConsolidatedPosition. */
enum { VN_POSITION_START_OF_DAY = 0, VN_POSITION_END_OF_SESSION = 1 };

/* Version argument of vnGetOrderByID: 1 is the first version, higher is newer. */
enum { VN_ORDER_VERSION_NEWEST = 0 };

/* Side characters. */
enum { VN_SIDE_BUY = 'B', VN_SIDE_SELL = 'S', VN_SIDE_TWO_SIDED = 'T', VN_SIDE_CROSS = 'X' };

/* Flags crossing as characters. */
enum { VN_YES = 'Y', VN_NO = 'N' };

/* MessageStruct.IsAlert and MessageStruct.Status. */
enum {
  VN_MSG_NORMAL = 'N',
  VN_MSG_ALERT = 'A',
  VN_MSG_SUPPRESS = 'S',
  VN_MSG_PENDING = 'P',
  VN_MSG_CLEARED = 'C'
};

/* Environment letters of vnInitialise ('T' and 'g' select the test environment). */
enum { VN_ENV_C = 'C', VN_ENV_G = 'G', VN_ENV_TEST = 'T', VN_ENV_TEST_G = 'g', VN_ENV_DEMO = 'D' };

/* Crossing-order flag characters that select the fill-and-kill batch type. */
enum { VN_CROSSING_FAK = 'K', VN_CROSSING_FAK_LOWER = 'k' };

#define VN_MAX_STRATEGY_LEGS 16
#define VN_CONTRACT_LEG_SLOTS 2
#define VN_EXTENDED_CONTRACT_LEG_SLOTS 16
#define VN_LEG_PRICES 16
#define VN_BRIDGE_BATCH_ORDERS 10

/* ---- Records ---------------------------------------------------------------------------- */

#pragma pack(push, 1)

/* Build version: "ProductVersion", a blank and "PrivateBuild". */
typedef struct BuildVersionStruct {
  char Version[26];
} BuildVersionStruct;
VN_CHECK_SIZE(BuildVersionStruct, 26);

typedef struct LogonStruct {
  char UserName[256];
  char Password[256];    /* replaced by its encrypted form by vnLogOn */
  char NewPassword[256]; /* empty for none; replaced by its encrypted form */
  char FullDownload;     /* 'Y'/'N' */
  char ReportDownload;   /* 'Y'/'N' */
} LogonStruct;
VN_CHECK_SIZE(LogonStruct, 770);

typedef struct LogonStatusStruct {
  uint8_t Status; /* 1: logon accepted */
  char StatusText[61];
  char TraderAccount[21];
  char TextFlag; /* 'Y'/'N' */
  char Unused84;
  char PostTradeAmend; /* 'Y'/'N' */
  char UserName[256];
  char GTOK; /* 'Y'/'N' */
} LogonStatusStruct;
VN_CHECK_SIZE(LogonStatusStruct, 343);

typedef struct MessageStruct {
  char MsgID[11];
  char MsgText[501];
  char IsAlert; /* VN_MSG_NORMAL, VN_MSG_ALERT, VN_MSG_SUPPRESS or ' ' */
  char Status;  /* VN_MSG_PENDING, VN_MSG_CLEARED or ' ' */
} MessageStruct;
VN_CHECK_SIZE(MessageStruct, 514);

typedef struct ExchangeStruct {
  char Name[11];
  char QueryEnabled; /* 'Y'/'N' */
  char AmendEnabled; /* 'Y'/'N' */
  int32_t StrategyCreator;
  char CustomDecimal; /* 'Y'/'N' */
  int32_t Decimals;
  char TicketType;
  char RFQA;        /* 'Y'/'N' */
  char RFQT;        /* 'Y'/'N' */
  char EnableBlock; /* 'Y'/'N' */
  char EnableBasis; /* 'Y'/'N' */
  char EnableAA;    /* 'Y'/'N' */
  char EnableCross; /* 'Y'/'N' */
  int32_t UUIDState;
} ExchangeStruct;
VN_CHECK_SIZE(ExchangeStruct, 33);

typedef struct TraderAcctStruct {
  char TraderAccount[21];
  char BackOfficeID[21];
  char Tradable; /* 'Y'/'N' */
  int32_t LossLimit;
} TraderAcctStruct;
VN_CHECK_SIZE(TraderAcctStruct, 47);

typedef struct OrderTypeStruct {
  char Name[11];
  char ExchangeName[11];
  int32_t OrderTypeID;
  uint8_t PricesRequired;
  uint8_t VolumesRequired;
  uint8_t DatesRequired;
  char AutoCreated; /* 'Y'/'N' */
  char TimeTriggered;
  char RealSynthetic;
  char GTCFlag;
  char TicketType[3];
} OrderTypeStruct;
VN_CHECK_SIZE(OrderTypeStruct, 36);

typedef struct CommodityStruct {
  char ExchangeName[11];
  char Name[11];
  char Currency[11];
  char Group[11];
  char OnePoint[11]; /* decimal text */
  int32_t TicksPerPoint;
  char TickSize[11]; /* decimal text */
  int32_t UUIDState;
} CommodityStruct;
VN_CHECK_SIZE(CommodityStruct, 74);

typedef struct ExchangeRateStruct {
  char Rate[21]; /* decimal text */
} ExchangeRateStruct;
VN_CHECK_SIZE(ExchangeRateStruct, 21);

typedef struct ReportTypeStruct {
  char ReportType[21];
} ReportTypeStruct;
VN_CHECK_SIZE(ReportTypeStruct, 21);

/* One leg slot of a contract record: the leg's fields X1..X5. */
typedef struct ContractLegStruct {
  char Field[5][11];
} ContractLegStruct;
VN_CHECK_SIZE(ContractLegStruct, 55);

typedef struct ContractStruct {
  char ContractName[11]; /* the commodity name */
  char ContractDate[51];
  char ExchangeName[11];
  char ExpiryDate[9];
  char LastTradeDate[9];
  int32_t NumberOfLegs;
  int32_t TicksPerPoint;
  char TickSize[11]; /* decimal text */
  char Tradable;     /* 'Y'/'N' */
  int32_t UUIDState;
  char MarginRequired[21]; /* decimal text */
  char ESATemplate;
  char MarketRef[17];
  char lnExchange[11];
  char lnCommodity[11];
  char lnContractDate[51];
  ContractLegStruct Legs[VN_CONTRACT_LEG_SLOTS];
} ContractStruct;
VN_CHECK_SIZE(ContractStruct, 337);

/* ContractStruct with 16 leg slots. */
typedef struct ExtendedContractStruct {
  char ContractName[11];
  char ContractDate[51];
  char ExchangeName[11];
  char ExpiryDate[9];
  char LastTradeDate[9];
  int32_t NumberOfLegs;
  int32_t TicksPerPoint;
  char TickSize[11];
  char Tradable;
  int32_t UUIDState;
  char MarginRequired[21];
  char ESATemplate;
  char MarketRef[17];
  char lnExchange[11];
  char lnCommodity[11];
  char lnContractDate[51];
  ContractLegStruct Legs[VN_EXTENDED_CONTRACT_LEG_SLOTS];
} ExtendedContractStruct;
VN_CHECK_SIZE(ExtendedContractStruct, 1107);

typedef struct AtBestStruct {
  char Firm[4];
  int32_t Volume;
  char BestType;
} AtBestStruct;
VN_CHECK_SIZE(AtBestStruct, 9);

typedef struct AtBestPriceStruct {
  char BestBid[21];   /* decimal text */
  char BestOffer[21]; /* decimal text */
  char LastBuyer[4];
  char LastSeller[4];
} AtBestPriceStruct;
VN_CHECK_SIZE(AtBestPriceStruct, 50);

typedef struct SubscriberDepthStruct {
  char Price[21]; /* decimal text */
  int32_t Volume;
  char Firm[4];
  char DepthType;
} SubscriberDepthStruct;
VN_CHECK_SIZE(SubscriberDepthStruct, 30);

typedef struct FillStruct {
  int32_t Index; /* -1 after a failed vnGetFill */
  char FillID[71];
  char ExchangeName[11];
  char ContractName[11]; /* the commodity name */
  char ContractDate[51];
  char BuySell; /* 'B', 'S' or ' ' */
  int32_t Lots;
  char Price[21]; /* decimal text */
  char OrderID[11];
  char DateFilled[9]; /* yyyymmdd */
  char TimeFilled[7]; /* hhnnss */
  char DateHostReceived[9];
  char TimeHostReceived[7];
  char ExchangeOrderID[31];
  uint8_t FillType; /* VN_FT_... */
  char TraderAccount[21];
  char UserName[11];
  char ExchangeFillID[71];
  char ExchangeRawPrice[21];
  char ExecutionID[71];
  int32_t UUIDState;
  int32_t FillSubType;
} FillStruct;
VN_CHECK_SIZE(FillStruct, 452);

typedef struct PositionStruct {
  char Profit[21]; /* decimal text */
  int32_t Buy;
  int32_t Sell;
} PositionStruct;
VN_CHECK_SIZE(PositionStruct, 29);

/* One price of a contract as the queries return it. */
typedef struct PriceDetailStruct {
  char Price[21]; /* decimal text; "0" when unset */
  int32_t Volume;
  uint8_t Age;
  uint8_t Direction; /* VN_DIRECTION_... */
  uint8_t Hour;
  uint8_t Minute;
  uint8_t Second;
} PriceDetailStruct;
VN_CHECK_SIZE(PriceDetailStruct, 30);

typedef PriceDetailStruct GenericPriceStruct;
VN_CHECK_SIZE(GenericPriceStruct, 30);

typedef struct PriceStruct {
  PriceDetailStruct Entries[VN_PK_COUNT]; /* indexed by price kind */
  int32_t Status;                         /* the contract's market status */
  int32_t ChangeMask;                     /* VN_PM_... as it stood before the read */
} PriceStruct;
VN_CHECK_SIZE(PriceStruct, 2408);

/* A contract's stored price entry, from which PriceDetailStruct is built. */
typedef struct PriceEntry {
  double Value;
  int32_t Volume;
  uint8_t Age;
  uint8_t DirectionHour; /* VN_PE_UP / VN_PE_DOWN | hour */
  uint8_t Minute;
  uint8_t Second;
  uint8_t Unset; /* 1: no price */
} PriceEntry;
VN_CHECK_SIZE(PriceEntry, 17);

typedef struct NewOrderStruct {
  char TraderAccount[21];
  char OrderType[11];
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
  char BuySell; /* VN_SIDE_... */
  char Price[21];
  char Price2[21];
  int32_t Lots;
  char LinkedOrder[11];
  char OpenOrClose;
  int32_t XRef;
  int32_t XRefP;
  char GoodTillDate[9];
  char CheckNow; /* 'Y': test a held order's trigger right after entry */
  char Reference[26];
  char ESARef[51];
  int32_t Priority;
  char TriggerDate[9]; /* ddmmyyyy, local */
  char TriggerTime[7]; /* hhnnss, local */
  char BatchID[11];
  char BatchType[11];
  char Unused301[4];
  char BatchStatus[11];
  char ParentID[11];
  char DoneForDay;
  char BigRefField[256];
  char SenderLocationID[33];
  char Rawprice[21];
  char Rawprice2[21];
  char ExecutionID[71];
  char ClientID[21];
  char APIM;
  char APIMUser[21];
  char YDSPAudit[11];
  char ICSNearLegPrice[11];
  char ICSFarLegPrice[11];
  int32_t MinClipSize;
  int32_t MaxClipSize;
  char Randomise;
  char TicketType[3];
  char TicketVersion[4];
  char ExchangeField[11];
  char BOFID[21];
  char Badge[6];
  char LocalUserName[11];
  char LocalTraderAccount[21];
  char LocalBOF[21];
  char LocalOrderID[11];
  char LocalEAC[11];
  char RoutingID1[11];
  char RoutingID2[11];
} NewOrderStruct;
VN_CHECK_SIZE(NewOrderStruct, 957);

/* Protection legs of vnAddProtectionOrder; an order is a protection order when the first byte
   is not NUL. */
typedef struct ProtectionStruct {
  char Pr1Price[21];
  int32_t Pr1Volume;
  char Pr2Price[21];
  int32_t Pr2Volume;
  char Pr3Price[21];
  int32_t Pr3Volume;
  char StType[11];
  char StPrice[21];
  char StSteps1[21]; /* number text */
  char StSteps2[21]; /* number text */
} ProtectionStruct;
VN_CHECK_SIZE(ProtectionStruct, 149);

typedef struct AggregateOrderStruct {
  char TraderAccount[21];
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
  char BuySell;
  char Price[21]; /* not read by vnAddAggregateOrder */
  char Reference[26];
  char DoneForDay;
  int32_t XRef;
} AggregateOrderStruct;
VN_CHECK_SIZE(AggregateOrderStruct, 147);

typedef struct CustReqStruct {
  char TraderAccount[21];
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
  char BuySell;
  char Unused95[4];
  char OrderType[11]; /* not read by vnAddCustRequest */
  char Price[21];     /* number text */
  char Unused131[21];
  char ParentID[11];
  int32_t Lots;
  int32_t LotsDone;
  char AveragePrice[21]; /* number text */
  char Reference[26];
  int32_t XRef;
} CustReqStruct;
VN_CHECK_SIZE(CustReqStruct, 222);

/* Order-id slots of a batch as the Java bridge passes them (ten orders). */
typedef struct BatchOrderStruct {
  char OrderID[VN_BRIDGE_BATCH_ORDERS][11];
} BatchOrderStruct;
VN_CHECK_SIZE(BatchOrderStruct, 110);

typedef struct AmendOrderStruct {
  char Price[21];
  char Price2[21];
  int32_t Lots;
  char LinkedOrder[11];
  char OpenOrClose;
  char TraderAccount[21];
  char Reference[26];
  int32_t Priority;
  char TriggerDate[9]; /* ddmmyyyy, local */
  char TriggerTime[7]; /* hhnnss, local */
  char BatchID[11];
  char BatchType[11];
  int32_t BatchCount;
  char BatchStatus[11];
  char ParentID[11];
  char DoneForDay;
  char BigRefField[256];
  char SenderLocationID[33];
  char Rawprice[21];
  char Rawprice2[21];
  char ExecutionID[71];
  char ClientID[21];
  char ESARef[51];
  char YDSPAudit[11];
  char ICSNearLegPrice[11];
  char ICSFarLegPrice[11];
  int32_t MaxClipSize;
  char LocalUserName[11];
  char LocalTraderAccount[21];
  char LocalBOF[21];
  char LocalOrderID[11];
  char LocalEAC[11];
  char RoutingID1[11];
  char RoutingID2[11];
} AmendOrderStruct;
VN_CHECK_SIZE(AmendOrderStruct, 782);

typedef struct OrderDetailStruct {
  int32_t Index; /* -1 after a failed look-up */
  char Historic; /* 'Y': an older version, or a history still marked new */
  char Checked;  /* 'Y'/'N' */
  char OrderID[11];
  char DisplayID[11];
  char ExchangeID[31];
  char UserName[11];
  char TraderAccount[21];
  char OrderType[11];
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
  char BuySell;
  char Price[21];
  char Price2[21];
  int32_t Lots;
  char LinkedOrder[11];
  int32_t Filled;
  int32_t NoOfFills;
  char AveragePrice[21];
  uint8_t Status; /* VN_OSC_... */
  char OpenOrClose;
  char DateClientSent[9];
  char TimeClientSent[7];
  char DateHostReceived[9];
  char TimeHostReceived[7];
  char DateExchangeReceived[9];
  char TimeExchangeReceived[7];
  char DateExchangeAcknowledged[9];
  char TimeExchangeAcknowledged[7];
  char NonExecReason[61];
  int32_t XRef;
  int32_t XRefP;
  int32_t UpdateSequence;
  char GoodTillDate[9];
  char Reference[26];
  int32_t Priority;
  char TriggerDate[9]; /* ddmmyyyy, local */
  char TriggerTime[7]; /* hhnnss, local */
  int32_t SubState;
  char BatchID[11];
  char BatchType[11];
  int32_t BatchCount;
  char BatchStatus[11];
  char ParentID[11];
  char DoneForDay;
  char BigRefField[256];
  int32_t TimeOut;
  char QuoteID[121];
  int32_t LotsPosted;
  int32_t ChildCount;
  int32_t ActualLots;
  char SenderLocationID[33];
  char Rawprice[21];
  char Rawprice2[21];
  char ExecutionID[71];
  char ClientID[21];
  char ESARef[51];
  char ISINCode[21];
  char CashPrice[21];
  char Methodology;
  char BasisRef[21];
  char EntryDate[9];
  char EntryTime[7];
  char APIM;
  char APIMUser[21];
  char ICSNearLegPrice[11];
  char ICSFarLegPrice[11];
  char CreationDate[9];
  int32_t OrderHistorySeq;
  int32_t MinClipSize;
  int32_t MaxClipSize;
  char Randomise;
  char ProfitLevel;
  int32_t OFSeqNumber;
  char ExchangeField[11];
  char BOFID[21];
  char Badge[6];
  int32_t UUIDState;
  char LocalUserName[11];
  char LocalTraderAccount[21];
  char LocalBOF[21];
  char LocalOrderID[11];
  char LocalEAC[11];
  char RoutingID1[11];
  char RoutingID2[11];
} OrderDetailStruct;
VN_CHECK_SIZE(OrderDetailStruct, 1410);

/* Leg prices of crossing and block orders; an all-blank text means no price. */
typedef struct LegPriceStruct {
  char LegPrice[VN_LEG_PRICES][21];
} LegPriceStruct;
VN_CHECK_SIZE(LegPriceStruct, 336);

typedef struct BasisStruct {
  char ISINCode[21];
  char CashPrice[21];
  char Methodology;
  char BasisRef[21];
} BasisStruct;
VN_CHECK_SIZE(BasisStruct, 64);

typedef struct OrderIDPair {
  char PrimaryOrderID[11];
  char SecondaryOrderID[11];
} OrderIDPair;
VN_CHECK_SIZE(OrderIDPair, 22);

typedef struct StrategyLegStruct {
  char LegChar;
  char ContractDate[51]; /* a contract date, or "<date> \ <commodity>" */
  char LegText[11];
  int32_t Ratio; /* above 0 buys */
  char Commodity[11];
} StrategyLegStruct;
VN_CHECK_SIZE(StrategyLegStruct, 78);

/* ---- Callback payloads ------------------------------------------------------------------ */

/* VN_CB_ORDER. */
typedef struct OrderUpdateStruct {
  char OrderID[11];
  char OldOrderID[11];
  uint8_t Status; /* VN_OS_... */
  int32_t OFSeqNumber;
} OrderUpdateStruct;
VN_CHECK_SIZE(OrderUpdateStruct, 27);

/* VN_CB_FILL. */
typedef struct FillUpdateStruct {
  char OrderID[11];
  char FillID[71];
} FillUpdateStruct;
VN_CHECK_SIZE(FillUpdateStruct, 82);

/* VN_CB_HOST_LINK_STATE_CHANGE, VN_CB_PRICE_STATE_CHANGE. */
typedef struct LinkStateStruct {
  uint8_t OldState; /* VN_LINK_... */
  uint8_t NewState;
} LinkStateStruct;
VN_CHECK_SIZE(LinkStateStruct, 2);

/* Price, at-best, depth, DOM, blank-prices and contract events. */
typedef struct ContractKeyStruct {
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
} ContractKeyStruct;
VN_CHECK_SIZE(ContractKeyStruct, 73);

/* VN_CB_STATUS_CHANGE. */
typedef struct ContractStatusStruct {
  ContractKeyStruct Key;
  int32_t Status;
} ContractStatusStruct;
VN_CHECK_SIZE(ContractStatusStruct, 77);

/* VN_CB_GENERIC_PRICE_UPDATE. The Java bridge forwards 78 bytes of it. */
typedef struct GenericPriceUpdateStruct {
  ContractKeyStruct Key;
  int32_t PriceType;
  char Level[2]; /* one character */
} GenericPriceUpdateStruct;
VN_CHECK_SIZE(GenericPriceUpdateStruct, 79);

/* VN_CB_SETTLEMENT. The date holds at most 6 characters, the time at most 8. */
typedef struct SettlementStruct {
  ContractKeyStruct Key;
  int32_t SettlementType;
  char Price[11]; /* decimal text, at most 10 characters */
  char Unused88[10];
  char SettlementDate[7];
  char SettlementTime[9];
} SettlementStruct;
VN_CHECK_SIZE(SettlementStruct, 114);

/* VN_CB_CONNECTIVITY_STATUS: ten texts in the order the connectivity message gives them. */
typedef struct ConnectivityStatusStruct {
  char Field1[37];
  char Field2[4];
  char Field3[4];
  char Field4[4];
  char Field5[21];
  char Field6[256];
  char Field7[21];
  char Field8[21];
  char Field9[15];
  char Field10[11];
} ConnectivityStatusStruct;
VN_CHECK_SIZE(ConnectivityStatusStruct, 394);

/* VN_CB_ORDER_CANCEL_FAILURE, VN_CB_AMEND_FAILURE, VN_CB_ORDER_SENT_FAILURE,
   VN_CB_ORDER_QUEUED_FAILURE. The Java bridge forwards 27 bytes for these; bytes past the
   record are the unused rest of the payload area. */
typedef struct OrderFailureStruct {
  char OrderID[11];
  char Unused11[11]; /* empty */
} OrderFailureStruct;
VN_CHECK_SIZE(OrderFailureStruct, 22);

/* VN_CB_TICKER_UPDATE. */
typedef struct TickerStruct {
  ContractKeyStruct Key;
  char BidPrice[21]; /* decimal text */
  int32_t BidVolume;
  char OfferPrice[21];
  int32_t OfferVolume;
  char LastPrice[21];
  int32_t LastVolume;
  char BidChanged;   /* 'Y'/'N' */
  char OfferChanged; /* 'Y'/'N' */
  char LastChanged;  /* 'Y'/'N' */
} TickerStruct;
VN_CHECK_SIZE(TickerStruct, 151);

/* VN_CB_STRATEGY_CREATE_SUCCESS, VN_CB_STRATEGY_CREATE_FAILURE. The Java bridge forwards 145
   bytes for a failure. */
typedef struct StrategyResultStruct {
  char UserName[11];
  char ExchangeName[11];
  char CommodityName[11];
  char ContractDate[51];
  char Text[51]; /* the new strategy's contract date, or the host's failure text */
} StrategyResultStruct;
VN_CHECK_SIZE(StrategyResultStruct, 135);

/* VN_CB_COMMODITY_UPDATED. */
typedef struct ExchangeCommodityStruct {
  char ExchangeName[11];
  char CommodityName[11];
} ExchangeCommodityStruct;
VN_CHECK_SIZE(ExchangeCommodityStruct, 22);

#pragma pack(pop)

/* ---- Callback procedures ---------------------------------------------------------------- */

/* Ids 3, 6, 7, 18 and 30 carry no payload. */
typedef void(VN_STDCALL* VnNotifyProc)(void);
/* Message id (4), currency (13), exchange name (31, 36): a VN_TEXT_PAYLOAD_SIZE text. */
typedef void(VN_STDCALL* VnTextProc)(const char* Text);
typedef void(VN_STDCALL* VnLinkStateProc)(const LinkStateStruct* State);
typedef void(VN_STDCALL* VnOrderProc)(const OrderUpdateStruct* Update);
typedef void(VN_STDCALL* VnFillProc)(const FillUpdateStruct* Update);
typedef void(VN_STDCALL* VnContractKeyProc)(const ContractKeyStruct* Key);
typedef void(VN_STDCALL* VnContractStatusProc)(const ContractStatusStruct* Status);
typedef void(VN_STDCALL* VnGenericPriceProc)(const GenericPriceUpdateStruct* Update);
typedef void(VN_STDCALL* VnSettlementProc)(const SettlementStruct* Settlement);
typedef void(VN_STDCALL* VnConnectivityStatusProc)(const ConnectivityStatusStruct* Status);
typedef void(VN_STDCALL* VnOrderFailureProc)(const OrderFailureStruct* Failure);
typedef void(VN_STDCALL* VnTickerProc)(const TickerStruct* Ticker);
typedef void(VN_STDCALL* VnStrategyResultProc)(const StrategyResultStruct* Result);
typedef void(VN_STDCALL* VnExchangeCommodityProc)(const ExchangeCommodityStruct* Names);
typedef void(VN_STDCALL* VnTraderProc)(const TraderAcctStruct* Trader);
typedef void(VN_STDCALL* VnOrderTypeProc)(const OrderTypeStruct* OrderType);

/* ---- Exports ---------------------------------------------------------------------------- */

#if defined(__cplusplus)
extern "C" {
#endif

/* Set-up, settings and diagnostics. */
VN_API int32_t VN_STDCALL vnInitialise(char Env, const char* APIVersion, const char* ApplicID,
                                       const char* ApplicVersion, const char* Reserved,
                                       uint8_t InitReset);
VN_API int32_t VN_STDCALL vnReady(void);
VN_API int32_t VN_STDCALL vnSetHostAddress(const char* IP, const char* Port);
VN_API int32_t VN_STDCALL vnSetPriceAddress(const char* IP, const char* Port);
VN_API int32_t VN_STDCALL vnDisconnect(void);
VN_API void VN_STDCALL vnPurge(const char* Date, const char* Time);
VN_API void VN_STDCALL vnSetEncryptionCode(char Code);
VN_API void VN_STDCALL vnSetClientPath(const char* Path);
VN_API int32_t VN_STDCALL vnOMIEnabled(char Flag);
VN_API int32_t VN_STDCALL vnMegaHubEnabled(void);
VN_API char VN_STDCALL vnKestrelEnabled(void);
VN_API int32_t VN_STDCALL vnGetAPIBuildVersion(BuildVersionStruct* Version);
VN_API void VN_STDCALL vnEnable(int32_t Flags);
VN_API void VN_STDCALL vnDisable(int32_t Flags);
VN_API void VN_STDCALL vnLogString(const char* Text);
VN_API const char* VN_STDCALL vnGetErrorMessage(int32_t Code);
VN_API int32_t VN_STDCALL vnDumpLastError(void);
VN_API int32_t VN_STDCALL vnSetHostReconnect(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetPriceReconnect(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetPriceAgeCounter(int32_t Count);
VN_API int32_t VN_STDCALL vnSetHandShakePeriod(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetHostHandShake(int32_t Interval, int32_t TimeOut);
VN_API int32_t VN_STDCALL vnSetPriceHandShake(int32_t Interval, int32_t TimeOut);
VN_API int32_t VN_STDCALL vnSetInternetUser(char Flag);
VN_API int32_t VN_STDCALL vnNotifyAllMessages(char Flag);
VN_API int32_t VN_STDCALL vnSetOrderCancelFailureDelay(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetOrderSentFailureDelay(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetOrderQueuedFailureDelay(int32_t Seconds);
VN_API int32_t VN_STDCALL vnSetMemoryWarning(int32_t Percent);
VN_API int32_t VN_STDCALL vnSetSSL(char Flag);
VN_API int32_t VN_STDCALL vnSetPDDSSL(char Flag);
VN_API int32_t VN_STDCALL vnSetMegaHub(char Flag);
VN_API int32_t VN_STDCALL vnSetMDSToken(const char* Token);
VN_API int32_t VN_STDCALL vnSetSSLCertificateName(const char* Name);
VN_API int32_t VN_STDCALL vnSetPDDSSLCertificateName(const char* Name);
VN_API int32_t VN_STDCALL vnSetSSLClientAuthName(const char* Name);
VN_API int32_t VN_STDCALL vnSetPDDSSLClientAuthName(const char* Name);

/* Logon and user messages. */
VN_API int32_t VN_STDCALL vnLogOn(LogonStruct* Logon);
VN_API int32_t VN_STDCALL vnLogOff(void);
VN_API int32_t VN_STDCALL vnGetLogonStatus(LogonStatusStruct* Status);
VN_API int32_t VN_STDCALL vnDOMEnabled(void);
VN_API int32_t VN_STDCALL vnPostTradeAmendEnabled(void);
VN_API int32_t VN_STDCALL vnEnabledFunctionality(int32_t* Features, int32_t* Roles);
VN_API int32_t VN_STDCALL vnCountUsrMsgs(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetUsrMsg(int32_t Index, MessageStruct* Msg);
VN_API int32_t VN_STDCALL vnGetUsrMsgByID(const char* MsgID, MessageStruct* Msg);
VN_API int32_t VN_STDCALL vnAcknowledgeUsrMsg(const char* MsgID);

/* Reference data. */
VN_API int32_t VN_STDCALL vnCountExchanges(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetExchange(int32_t Index, ExchangeStruct* Exchange);
VN_API int32_t VN_STDCALL vnGetExchangeByName(const char* Name, ExchangeStruct* Exchange);
VN_API int32_t VN_STDCALL vnExchangeExists(const char* Name);
VN_API int32_t VN_STDCALL vnCountTraders(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetTrader(int32_t Index, TraderAcctStruct* Trader);
VN_API int32_t VN_STDCALL vnGetTraderByName(const char* Account, TraderAcctStruct* Trader);
VN_API int32_t VN_STDCALL vnTraderExists(const char* Account);
VN_API int32_t VN_STDCALL vnCountOrderTypes(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetOrderType(int32_t Index, OrderTypeStruct* OrderType);
VN_API int32_t VN_STDCALL vnCountReportTypes(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetReportType(int32_t Index, ReportTypeStruct* ReportType);
VN_API int32_t VN_STDCALL vnReportTypeExists(const char* ReportType);
VN_API int32_t VN_STDCALL vnCountCommodities(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetCommodity(int32_t Index, CommodityStruct* Commodity);
VN_API int32_t VN_STDCALL vnGetCommodityByName(const char* Exchange, const char* Commodity,
                                               CommodityStruct* Out);
VN_API int32_t VN_STDCALL vnCommodityExists(const char* Exchange, const char* Commodity);
VN_API int32_t VN_STDCALL vnCountContracts(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetContract(int32_t Index, ContractStruct* Contract);
VN_API int32_t VN_STDCALL vnGetExtendedContract(int32_t Index, ExtendedContractStruct* Contract);
VN_API int32_t VN_STDCALL vnGetContractByName(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, ContractStruct* Contract);
VN_API int32_t VN_STDCALL vnGetExtendedContractByName(const char* Exchange, const char* Commodity,
                                                      const char* ContractDate,
                                                      ExtendedContractStruct* Contract);
VN_API int32_t VN_STDCALL vnContractExists(const char* Exchange, const char* Commodity,
                                           const char* ContractDate);
VN_API int32_t VN_STDCALL vnGetContractByExternalID(const ContractStruct* Key,
                                                    ContractStruct* Contract);
VN_API int32_t VN_STDCALL vnGetExchangeRate(const char* Currency, ExchangeRateStruct* Rate);
VN_API int32_t VN_STDCALL vnGetReportSize(const char* ReportType, int32_t* Size);
VN_API int32_t VN_STDCALL vnGetReport(const char* ReportType, int32_t Room, char* Buffer);
VN_API int32_t VN_STDCALL vnCountContractAtBest(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, int32_t* Count);
VN_API int32_t VN_STDCALL vnGetContractAtBest(const char* Exchange, const char* Commodity,
                                              const char* ContractDate, int32_t Index,
                                              AtBestStruct* AtBest);
VN_API int32_t VN_STDCALL vnGetContractAtBestPrices(const char* Exchange, const char* Commodity,
                                                    const char* ContractDate,
                                                    AtBestPriceStruct* Prices);
VN_API int32_t VN_STDCALL vnCountContractSubscriberDepth(const char* Exchange,
                                                         const char* Commodity,
                                                         const char* ContractDate, int32_t* Count);
VN_API int32_t VN_STDCALL vnGetContractSubscriberDepth(const char* Exchange, const char* Commodity,
                                                       const char* ContractDate, int32_t Index,
                                                       SubscriberDepthStruct* Depth);

/* Fills, positions and prices. Text outputs (Price, Result) are 21-byte buffers. */
VN_API int32_t VN_STDCALL vnCountFills(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetFill(int32_t Index, FillStruct* Fill);
VN_API int32_t VN_STDCALL vnGetFillByID(const char* FillID, FillStruct* Fill);
VN_API int32_t VN_STDCALL vnGetContractPosition(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, const char* Account,
                                                PositionStruct* Position);
VN_API int32_t VN_STDCALL vnGetOpenPosition(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            PositionStruct* Position);
VN_API int32_t VN_STDCALL vnGetTotalPosition(const char* Account, PositionStruct* Position);
VN_API int32_t VN_STDCALL vnGetAveragePrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            char* Price);
VN_API int32_t VN_STDCALL vnGetPrice(int32_t Index, PriceStruct* Prices);
VN_API int32_t VN_STDCALL vnGetPriceForContract(const char* Exchange, const char* Commodity,
                                                const char* ContractDate, PriceStruct* Prices);
VN_API int32_t VN_STDCALL vnGetGenericPrice(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, int32_t PriceType,
                                            int32_t PriceLevel, GenericPriceStruct* Price);
VN_API int32_t VN_STDCALL vnBlankPrices(void);

/* Margin and risk. */
VN_API int32_t VN_STDCALL vnMarginForTrade(const char* Exchange, const char* Commodity,
                                           const char* ContractDate, const char* Account,
                                           const int32_t* Lots, const char* OrderID,
                                           const char* Price, char* Result);
VN_API int32_t VN_STDCALL vnPLBurnRate(const char* Exchange, const char* Commodity,
                                       const char* ContractDate, const char* Account, char* Result);
VN_API int32_t VN_STDCALL vnOpenPositionExposure(const char* Exchange, const char* Commodity,
                                                 const char* ContractDate, const char* Account,
                                                 char* Result);
VN_API int32_t VN_STDCALL vnBuyingPowerUsed(const char* Exchange, const char* Commodity,
                                            const char* ContractDate, const char* Account,
                                            char* Result);
VN_API int32_t VN_STDCALL vnBuyingPowerRemaining(const char* Exchange, const char* Commodity,
                                                 const char* ContractDate, const char* Account,
                                                 char* Result);
VN_API int32_t VN_STDCALL vnGetOptionPremium(const char* Exchange, const char* Commodity,
                                             const char* ContractDate, char Side, const char* Price,
                                             int32_t Lots, char* Result);
VN_API int32_t VN_STDCALL vnNextOrderSequence(int32_t* Sequence);

/* Price stepping. */
VN_API double VN_STDCALL vnPriceStep(double Price, double TickSize, int32_t NumTicks,
                                     int32_t TicksPerPoint);

/* Subscriptions and strategies. */
VN_API int32_t VN_STDCALL vnSubscribePrice(const char* Exchange, const char* Commodity,
                                           const char* ContractDate);
VN_API int32_t VN_STDCALL vnUnsubscribePrice(const char* Exchange, const char* Commodity,
                                             const char* ContractDate);
VN_API int32_t VN_STDCALL vnPriceSnapshot(const char* Exchange, const char* Commodity,
                                          const char* ContractDate, int32_t WaitMs);
VN_API int32_t VN_STDCALL vnSubscribeToMarket(const char* Exchange, const char* Commodity,
                                              const char* ContractDate);
VN_API int32_t VN_STDCALL vnUnsubscribeToMarket(const char* Exchange, const char* Commodity,
                                                const char* ContractDate);
VN_API int32_t VN_STDCALL vnSubscribeBroadcast(const char* Exchange);
VN_API int32_t VN_STDCALL vnUnsubscribeBroadcast(const char* Exchange);
/* Legs points to VN_MAX_STRATEGY_LEGS records. */
VN_API int32_t VN_STDCALL vnCreateStrategy(char StrategyType, int32_t NumberOfLegs,
                                           const char* Exchange, const char* Commodity,
                                           const StrategyLegStruct* Legs);

/* Order entry. OrderID outputs are 11-byte buffers and may be null. */
VN_API int32_t VN_STDCALL vnAddOrder(const NewOrderStruct* Order, char* OrderID);
VN_API int32_t VN_STDCALL vnAddOrderEx(const NewOrderStruct* Order, char* OrderID,
                                       const char* UserName);
VN_API int32_t VN_STDCALL vnAddProtectionOrder(const NewOrderStruct* Order,
                                               const ProtectionStruct* Protection, char* OrderID);
/* Writes the batch id into each order after the first; OrderIDs holds Count slots. */
VN_API int32_t VN_STDCALL vnAddBatchOrder(int32_t Count, NewOrderStruct* Orders,
                                          char (*OrderIDs)[11]);
VN_API int32_t VN_STDCALL vnAddAggregateOrder(const AggregateOrderStruct* Order, char* OrderID);
VN_API int32_t VN_STDCALL vnAddCustRequest(const CustReqStruct* Request, char* OrderID);

/* Amend and cancel. */
VN_API int32_t VN_STDCALL vnAmendOrder(const char* OrderID, const AmendOrderStruct* Amend);
VN_API int32_t VN_STDCALL vnAmendOrderEx(const char* OrderID, const AmendOrderStruct* Amend,
                                         const char* UserName);
VN_API int32_t VN_STDCALL vnReParent(const char* OrderID, const char* NewParentID);
VN_API int32_t VN_STDCALL vnDoneForDay(const char* OrderID);
VN_API int32_t VN_STDCALL vnCancelOrder(const char* OrderID);
VN_API int32_t VN_STDCALL vnCancelOrderEx(const char* OrderID, const char* UserName);
VN_API int32_t VN_STDCALL vnCancelBuys(const char* Account, const char* Exchange,
                                       const char* Commodity, const char* ContractDate);
VN_API int32_t VN_STDCALL vnCancelSells(const char* Account, const char* Exchange,
                                        const char* Commodity, const char* ContractDate);
VN_API int32_t VN_STDCALL vnCancelOrders(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate);
VN_API int32_t VN_STDCALL vnCancelBuysEx(const char* Account, const char* Exchange,
                                         const char* Commodity, const char* ContractDate,
                                         const char* UserName);
VN_API int32_t VN_STDCALL vnCancelSellsEx(const char* Account, const char* Exchange,
                                          const char* Commodity, const char* ContractDate,
                                          const char* UserName);
VN_API int32_t VN_STDCALL vnCancelAll(const char* Account);
VN_API int32_t VN_STDCALL vnCancelAllEx(const char* Account, const char* UserName);

/* Order queries. */
VN_API int32_t VN_STDCALL vnCountOrders(int32_t* Count);
VN_API int32_t VN_STDCALL vnGetOrder(int32_t Index, OrderDetailStruct* Order);
VN_API int32_t VN_STDCALL vnGetOrderByID(const char* OrderID, OrderDetailStruct* Order,
                                         int32_t Version);
VN_API int32_t VN_STDCALL vnGetOrderIndex(const char* OrderID, int32_t* Index);
VN_API int32_t VN_STDCALL vnCountOrderHistory(int32_t Index, int32_t* Count);
VN_API int32_t VN_STDCALL vnGetOrderHistory(int32_t Index, int32_t HistoryIndex,
                                            OrderDetailStruct* Order);
VN_API int32_t VN_STDCALL vnQueryOrderStatus(const char* OrderID);
VN_API int32_t VN_STDCALL vnOrderChecked(const char* OrderID, char Checked);
VN_API int32_t VN_STDCALL vnSetUserIDFilter(char Flag);

/* Wholesale orders and consolidated position. */
VN_API int32_t VN_STDCALL vnAddCrossingOrder(const NewOrderStruct* Primary,
                                             const NewOrderStruct* Secondary,
                                             const LegPriceStruct* LegPrices, OrderIDPair* IDs,
                                             char Flag);
VN_API int32_t VN_STDCALL vnAddBlockOrder(const NewOrderStruct* Primary,
                                          const NewOrderStruct* Secondary,
                                          const LegPriceStruct* LegPrices, OrderIDPair* IDs);
VN_API int32_t VN_STDCALL vnAddBasisOrder(const NewOrderStruct* Primary,
                                          const NewOrderStruct* Secondary, const BasisStruct* Basis,
                                          OrderIDPair* IDs);
VN_API int32_t VN_STDCALL vnAddAAOrder(const NewOrderStruct* Primary,
                                       const NewOrderStruct* Secondary, const char* UserName,
                                       const char* UserName2, OrderIDPair* IDs);
/* Writes only ExchangeName, ContractName, BuySell, Lots and Price of the fill record. */
VN_API int32_t VN_STDCALL vngetConsolidatedPosition(const char* Exchange, const char* Commodity,
                                                    const char* ContractDate, const char* Account,
                                                    int32_t Mode, FillStruct* Position);

/* Callback registration: each export accepts only its own ids (VN_RC_UNKNOWN_CALLBACK_ID
   otherwise); a null procedure unregisters. */
VN_API int32_t VN_STDCALL vnRegisterCallback(int32_t ID, VnNotifyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterLinkStateCallback(int32_t ID, VnLinkStateProc Proc);
VN_API int32_t VN_STDCALL vnRegisterMsgCallback(int32_t ID, VnTextProc Proc);
VN_API int32_t VN_STDCALL vnRegisterPriceCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterBlankPriceCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterGenericPriceCallback(int32_t ID, VnGenericPriceProc Proc);
VN_API int32_t VN_STDCALL vnRegisterDOMCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterSubscriberDepthCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterAtBestCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterFillCallback(int32_t ID, VnFillProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderCallback(int32_t ID, VnOrderProc Proc);
VN_API int32_t VN_STDCALL vnRegisterContractCallback(int32_t ID, VnContractKeyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterCommodityCallback(int32_t ID, VnExchangeCommodityProc Proc);
VN_API int32_t VN_STDCALL vnRegisterExchangeCallback(int32_t ID, VnTextProc Proc);
VN_API int32_t VN_STDCALL vnRegisterStatusCallback(int32_t ID, VnContractStatusProc Proc);
VN_API int32_t VN_STDCALL vnRegisterExchangeRateCallback(int32_t ID, VnTextProc Proc);
VN_API int32_t VN_STDCALL vnRegisterConStatusCallback(int32_t ID, VnConnectivityStatusProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderCancelFailureCallback(int32_t ID, VnOrderFailureProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderSentFailureCallback(int32_t ID, VnOrderFailureProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderQueuedFailureCallback(int32_t ID, VnOrderFailureProc Proc);
VN_API int32_t VN_STDCALL vnRegisterTickerCallback(int32_t ID, VnTickerProc Proc);
VN_API int32_t VN_STDCALL vnRegisterAmendFailureCallback(int32_t ID, VnOrderFailureProc Proc);
VN_API int32_t VN_STDCALL vnRegisterSettlementCallback(int32_t ID, VnSettlementProc Proc);
VN_API int32_t VN_STDCALL vnRegisterStrategyCreateSuccess(int32_t ID, VnStrategyResultProc Proc);
VN_API int32_t VN_STDCALL vnRegisterStrategyCreateFailure(int32_t ID, VnStrategyResultProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderBookReset(int32_t ID, VnNotifyProc Proc);
VN_API int32_t VN_STDCALL vnRegisterTraderAddedCallback(int32_t ID, VnTraderProc Proc);
VN_API int32_t VN_STDCALL vnRegisterOrderTypeUpdateCallback(int32_t ID, VnOrderTypeProc Proc);

#if defined(__cplusplus)
}
#endif

#endif /* VORNINTF_H */
