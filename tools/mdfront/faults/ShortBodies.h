// Bodies of each kind cut short to a set length.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class ShortBodies : public Fault {
public:
    // Bodies cut short to these lengths; 0 leaves the kind whole.
    struct Settings {
        std::size_t short_depth = 0;      // binary depth, whole = 408
        std::size_t short_instrument = 0; // (un)subscription responses, whole = 119
        std::size_t short_forquote = 0;   // for-quote notices, whole = 88
        std::size_t short_login = 0;      // login response, whole = 248
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"short-bodies", nullptr,
                  "fault: cut bodies short: binary depth records to"
                  " 200 bytes, instrument responses to 20, for-quote notices to 40, login"
                  " responses to 100",
                  [](const std::string&, Settings& f) {
                      f.short_depth = 200;
                      f.short_instrument = 20;
                      f.short_forquote = 40;
                      f.short_login = 100;
                      return true;
                  }}},
                [](const Settings& f) -> std::unique_ptr<Fault> {
                    if (f.short_depth == 0 && f.short_instrument == 0 && f.short_forquote == 0 &&
                        f.short_login == 0)
                        return nullptr;
                    return std::make_unique<ShortBodies>(f);
                }};
    }

    explicit ShortBodies(const Settings& f)
        : login_(f.short_login), instrument_(f.short_instrument), forQuote_(f.short_forquote),
          depth_(f.short_depth)
    {}
    void ShapeBody(BodyKind kind, bool, BodyShape& shape) const override
    {
        switch (kind) {
        case BodyKind::Login: shape.cut_to = login_; break;
        case BodyKind::Instrument: shape.cut_to = instrument_; break;
        case BodyKind::ForQuote: shape.cut_to = forQuote_; break;
        case BodyKind::Depth: shape.cut_to = depth_; break;
        }
    }

private:
    std::size_t login_, instrument_, forQuote_, depth_;
};

} // namespace mdfront
