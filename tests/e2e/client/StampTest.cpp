// Sequence-stamped depth records through the library in every body form:
// after a draining stop, the application has had every record the front
// wrote whole, once each and in order.
#include "E2eSupport.h"

namespace e2e {
namespace {

using mdfront::DepthForm;

struct Form {
    const char* name;
    DepthForm form;
};

const Form Forms[] = {
    {"Binary", DepthForm::Binary},
    {"Text", DepthForm::Text},
    {"Joined", DepthForm::Joined},
};

void PrintTo(const Form& form, std::ostream* out)
{
    *out << form.name;
}

class Stamps : public ClientTest, public ::testing::WithParamInterface<Form> {};

TEST_P(Stamps, EveryRecordWrittenBeforeTheStopArrivesOnceInOrder)
{
    mdfront::FrontConfig cfg = BaseConfig(GetParam().form);
    cfg.stamp_sequence = true;
    mdfront::FrontServer& front = AddFront(cfg);
    session_->instruments = {"au2612", "ag2612"};
    StartClient({Address(front)});
    ASSERT_TRUE(session_->WaitCount(Kind::Depth, 30));
    front.Stop(Patience);
    ASSERT_TRUE(session_->WaitCount(Kind::Disconnected, 1));

    const mdfront::ConnectionStats stats = front.Stats(0);
    EXPECT_EQ(stats.fault, "front stopped");
    EXPECT_TRUE(stats.all_acknowledged);
    ASSERT_GE(stats.stamp_before_fault, 30u);
    std::vector<int> got;
    for (const Event& e : session_->Of(Kind::Depth))
        got.push_back(e.depth.Volume);
    std::vector<int> want;
    for (std::uint64_t i = 1; i <= stats.stamp_before_fault; ++i)
        want.push_back(static_cast<int>(i));
    EXPECT_EQ(got, want);
}

INSTANTIATE_TEST_SUITE_P(Forms, Stamps, ::testing::ValuesIn(Forms),
                         [](const ::testing::TestParamInfo<Form>& info) { return info.param.name; });

} // namespace
} // namespace e2e
