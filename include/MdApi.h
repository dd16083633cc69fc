/*
 * The market-data interface: the application calls CThostFtdcMdApi and is
 * called back through its own CThostFtdcMdSpi.
 *
 * Plain declarations that compile as C++03. The records are laid out with the
 * compiler's natural alignment; their sizes and offsets are part of the binary
 * interface and must not change.
 */
#ifndef MDLINK_MD_API_H
#define MDLINK_MD_API_H

#if defined(MDLINK_STATIC)
#  define MDLINK_API
#elif defined(_WIN32)
#  if defined(MDLINK_BUILDING_LIBRARY)
#    define MDLINK_API __declspec(dllexport)
#  else
#    define MDLINK_API __declspec(dllimport)
#  endif
#else
#  define MDLINK_API __attribute__((visibility("default")))
#endif

/*
 * What the mark goes on. In Microsoft's ABI, on the whole class: its table
 * and special members come from the DLL, which exports them. With g++ on
 * Windows, only on the static operations: a class marked as imported there
 * imports its table too, which the DLL does not export, and a program that
 * derives from the class (a mock in a unit test) would not link; unmarked,
 * each such program makes the table itself, as for any class without a
 * key function.
 */
#if defined(_WIN32) && !defined(_MSC_VER) && !defined(MDLINK_STATIC)
#  define MDLINK_CLASS_API
#  define MDLINK_STATIC_API MDLINK_API
#else
#  define MDLINK_CLASS_API MDLINK_API
#  define MDLINK_STATIC_API
#endif

/* Login request; the library sends it to the front unchanged. 228 bytes. */
struct CThostFtdcReqUserLoginField {
    char TradingDay[9];
    char BrokerID[11];
    char UserID[16];
    char Password[41];
    char UserProductInfo[11];
    char InterfaceProductInfo[11];
    char ProtocolInfo[11];
    char MacAddress[21];
    char OneTimePassword[41];
    char ClientIPAddress[16];
    char LoginRemark[36];
    int ClientIPPort;
};

/* Login response. 156 bytes. */
struct CThostFtdcRspUserLoginField {
    char TradingDay[9];
    char LoginTime[9];
    char BrokerID[11];
    char UserID[16];
    char SystemName[41];
    int FrontID;
    int SessionID;
    char MaxOrderRef[13];
    char SHFETime[9];
    char DCETime[9];
    char CZCETime[9];
    char FFEXTime[9];
    char INETime[9];
};

/* Outcome of a request: ErrorID 0 is success. 88 bytes. */
struct CThostFtdcRspInfoField {
    int ErrorID;
    char ErrorMsg[81];
};

/* One instrument of a (un)subscription response. 31 bytes. */
struct CThostFtdcSpecificInstrumentField {
    char InstrumentID[31];
};

/* Depth market data of one instrument. 408 bytes. */
struct CThostFtdcDepthMarketDataField {
    char TradingDay[9];
    char InstrumentID[31];
    char ExchangeID[9];
    char ExchangeInstID[31];
    double LastPrice;
    double PreSettlementPrice;
    double PreClosePrice;
    double PreOpenInterest;
    double OpenPrice;
    double HighestPrice;
    double LowestPrice;
    int Volume;
    double Turnover;
    double OpenInterest;
    double ClosePrice;
    double SettlementPrice;
    double UpperLimitPrice;
    double LowerLimitPrice;
    double PreDelta;
    double CurrDelta;
    char UpdateTime[9];
    int UpdateMillisec;
    double BidPrice1;
    int BidVolume1;
    double AskPrice1;
    int AskVolume1;
    double BidPrice2;
    int BidVolume2;
    double AskPrice2;
    int AskVolume2;
    double BidPrice3;
    int BidVolume3;
    double AskPrice3;
    int AskVolume3;
    double BidPrice4;
    int BidVolume4;
    double AskPrice4;
    int AskVolume4;
    double BidPrice5;
    int BidVolume5;
    double AskPrice5;
    int AskVolume5;
    double AveragePrice;
    char ActionDay[9];
};

/* A for-quote notice. 88 bytes. */
struct CThostFtdcForQuoteRspField {
    char TradingDay[9];
    char InstrumentID[31];
    char ForQuoteSysID[21];
    char ForQuoteTime[9];
    char ActionDay[9];
    char ExchangeID[9];
};

/* Records of operations this library accepts but does not serve. */
struct CThostFtdcFensUserInfoField {
    char BrokerID[11];
    char UserID[16];
    char LoginMode;
};

struct CThostFtdcUserLogoutField {
    char BrokerID[11];
    char UserID[16];
};

struct CThostFtdcQryMulticastInstrumentField {
    int TopicID;
    char InstrumentID[31];
};

struct CThostFtdcMulticastInstrumentField {
    int TopicID;
    char InstrumentID[31];
    int InstrumentNo;
    double CodePrice;
    int VolumeMultiple;
    double PriceTick;
};

/*
 * The application's callbacks. They run on the library's event-loop thread,
 * one at a time; records passed in are valid only during the call.
 */
class CThostFtdcMdSpi {
public:
    virtual void OnFrontConnected() {}
    /* reason: the platform's error number when a connection attempt failed,
     * 0x2001 when an established link was lost, 0x2002 after a heartbeat
     * timeout (the library then connects to the next registered front). */
    virtual void OnFrontDisconnected(int nReason) { (void)nReason; }
    virtual void OnHeartBeatWarning(int nTimeLapse) { (void)nTimeLapse; }
    virtual void OnRspUserLogin(CThostFtdcRspUserLoginField* pRspUserLogin,
                                CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pRspUserLogin; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspUserLogout(CThostFtdcUserLogoutField* pUserLogout,
                                 CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pUserLogout; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspQryMulticastInstrument(CThostFtdcMulticastInstrumentField* pInstrument,
                                             CThostFtdcRspInfoField* pRspInfo, int nRequestID,
                                             bool bIsLast)
    {
        (void)pInstrument; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspError(CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                    CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pSpecificInstrument; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspUnSubMarketData(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                      CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pSpecificInstrument; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                     CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pSpecificInstrument; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRspUnSubForQuoteRsp(CThostFtdcSpecificInstrumentField* pSpecificInstrument,
                                       CThostFtdcRspInfoField* pRspInfo, int nRequestID, bool bIsLast)
    {
        (void)pSpecificInstrument; (void)pRspInfo; (void)nRequestID; (void)bIsLast;
    }
    virtual void OnRtnDepthMarketData(CThostFtdcDepthMarketDataField* pDepthMarketData)
    {
        (void)pDepthMarketData;
    }
    virtual void OnRtnForQuoteRsp(CThostFtdcForQuoteRspField* pForQuoteRsp) { (void)pForQuoteRsp; }
};

/*
 * A market-data client: one connection to one of the registered fronts.
 *
 *   api = CThostFtdcMdApi::CreateFtdcMdApi();
 *   api->RegisterSpi(&spi);
 *   api->RegisterFront((char*)"tcp://127.0.0.1:7000");
 *   api->Init();
 *   ... log in and subscribe from OnFrontConnected ...
 *   api->Release();
 *
 * Requests return 0 when the frame was queued for sending, -1 otherwise.
 * Release may be called from any thread, also from inside a callback; from
 * another thread it waits until no callback of this client runs or can
 * start. While calling Release (or RegisterSpi / RegisterFront after Init),
 * an application must not hold a lock that its callbacks take.
 */
class MDLINK_CLASS_API CThostFtdcMdApi {
public:
    /* The three arguments are accepted for compatibility and not used. Logs
     * go to ./KVMDLog under the working directory. With MDLINK_LINKS=N
     * (N >= 2) in the environment the client holds N of the registered
     * fronts at once and delivers each record once (see
     * docs/redundant-links.md). */
    static MDLINK_STATIC_API CThostFtdcMdApi* CreateFtdcMdApi(const char* pszFlowPath = "",
                                                              const bool bIsUsingUdp = false,
                                                              const bool bIsMulticast = false);
    static MDLINK_STATIC_API const char* GetApiVersion();

    virtual void Release() = 0;
    virtual void Init() = 0;
    virtual int Join() = 0;
    virtual const char* GetTradingDay() = 0;
    /* "tcp://host:port"; the first six characters are not examined. */
    virtual void RegisterFront(char* pszFrontAddress) = 0;
    virtual void RegisterNameServer(char* pszNsAddress) = 0;
    virtual void RegisterFensUserInfo(CThostFtdcFensUserInfoField* pFensUserInfo) = 0;
    virtual void RegisterSpi(CThostFtdcMdSpi* pSpi) = 0;
    virtual int SubscribeMarketData(char* ppInstrumentID[], int nCount) = 0;
    virtual int UnSubscribeMarketData(char* ppInstrumentID[], int nCount) = 0;
    virtual int SubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) = 0;
    virtual int UnSubscribeForQuoteRsp(char* ppInstrumentID[], int nCount) = 0;
    virtual int ReqUserLogin(CThostFtdcReqUserLoginField* pReqUserLoginField, int nRequestID) = 0;
    virtual int ReqUserLogout(CThostFtdcUserLogoutField* pUserLogout, int nRequestID) = 0;
    virtual int ReqQryMulticastInstrument(CThostFtdcQryMulticastInstrumentField* pQryMulticastInstrument,
                                          int nRequestID) = 0;

protected:
    ~CThostFtdcMdApi() {}
};

/* The same version text as CThostFtdcMdApi::GetApiVersion(). */
extern "C" MDLINK_API const char* GetApiVersion();

#endif
