// Every test of a program that links this starts from a clean fake world:
// nothing recorded by an earlier test is visible to the next, whatever
// fixture it uses.
#include "FakeBase.h"

#include <gtest/gtest.h>

namespace {

class RestartEachTest : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { fake::World::Get().Restart(); }
};

const bool registered = [] {
    ::testing::UnitTest::GetInstance()->listeners().Append(new RestartEachTest);
    return true;
}();

} // namespace
