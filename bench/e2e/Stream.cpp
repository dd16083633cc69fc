#include "Stream.h"

#include "DepthText.h"
#include "DepthWalk.h"
#include "FrameBuilder.h"
#include "LocalTime.h"

#include <vector>

namespace bench {

std::string DepthFrames(Form form, int count)
{
    const char* ids[][2] = {{"au2612", "SHFE"}, {"IF2612", "CFFEX"}, {"m2605", "DCE"}, {"SR605", "CZCE"}};
    std::vector<mdfront::DepthWalk> walks;
    for (std::uint64_t i = 0; i < 4; ++i)
        walks.emplace_back(mdfront::InstrumentInfo{ids[i][0], ids[i][1]}, "20261207", 7 + i);
    const mdtools::LocalStamp now = mdtools::NowLocal();
    std::string out;
    for (int i = 0; i < count; ++i) {
        const CThostFtdcDepthMarketDataField d = walks[static_cast<std::size_t>(i) % walks.size()].Next(now);
        mdfront::Bytes frame;
        if (form == Form::Binary) {
            frame =
                mdfront::MakeFrame(mdlink::MsgDepthMarketData, 0, false, mdfront::RecordBytes(&d, sizeof d));
        } else {
            mdfront::TextOptions options;
            frame = mdfront::MakeFrame(mdlink::MsgDepthMarketData, 0, false,
                                       mdfront::DepthTextBody(d, options), mdlink::MarkerText);
        }
        out.append(frame.begin(), frame.end());
    }
    return out;
}

} // namespace bench
