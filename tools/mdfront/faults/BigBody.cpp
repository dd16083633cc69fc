// The first depth body of each connection padded to a large size.
#include "FaultKit.h"
#include "Faults.h"

namespace mdfront {

namespace {

class BigBody : public Fault {
public:
    explicit BigBody(std::size_t length) : length_(length) {}
    void ShapeBody(BodyKind kind, bool firstDepth, BodyShape& shape) const override
    {
        if (kind == BodyKind::Depth && firstDepth)
            shape.pad_to = length_;
    }

private:
    std::size_t length_;
};

} // namespace

FaultKind BigBodyFault()
{
    return {{{"big-body", "BYTES", "fault: pad the first depth frame of each connection"
              " to BYTES (801..1048576)", CountInto(&FrontFaults::big_body_length, 801, 1u << 20)}},
            WhenSet<BigBody>(&FrontFaults::big_body_length)};
}

} // namespace mdfront
