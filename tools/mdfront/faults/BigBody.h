// The first depth body of each connection padded to a large size.
#pragma once

#include "FaultKit.h"

namespace mdfront {

class BigBody : public Fault {
public:
    struct Settings {
        // The first depth frame of each connection padded to this many body
        // bytes (a binary record followed by zeros, or text with filler
        // fields from index 63 on).
        std::size_t big_body_length = 0;
    };
    static EntryOf<Settings> Entry()
    {
        return {{{"big-body", "BYTES",
                  "fault: pad the first depth frame of each connection"
                  " to BYTES (801..1048576)",
                  CountInto(&Settings::big_body_length, 801, 1u << 20)}},
                WhenSet<BigBody>(&Settings::big_body_length)};
    }

    explicit BigBody(std::size_t length) : length_(length) {}
    void ShapeBody(BodyKind kind, bool firstDepth, BodyShape& shape) const override
    {
        if (kind == BodyKind::Depth && firstDepth)
            shape.pad_to = length_;
    }

private:
    std::size_t length_;
};

} // namespace mdfront
