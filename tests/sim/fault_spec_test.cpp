// The --fault SPEC as tulk-camsim reads it.
#include <gtest/gtest.h>

#include "sim/fault_spec.h"

namespace simtest {
namespace {

using camsim::Fault;
using Kind = Fault::Kind;
using std::chrono::milliseconds;

struct Good {
    const char* spec;
    Kind kind;
    int at;
    int every;
    milliseconds duration;
    int action;
};

TEST(FaultSpec, ReadsKindAndKeys) {
    const Good cases[] = {
        {"garble-packet", Kind::GarblePacket, 1, 0, milliseconds(30000), 2},
        {"garble-always,every=4,at=3", Kind::GarbleAlways, 3, 4, milliseconds(30000), 2},
        {"stall-mid-transfer,for=500ms", Kind::StallMidTransfer, 1, 0, milliseconds(500), 2},
        {"stall-mid-transfer,at=2,for=30s", Kind::StallMidTransfer, 2, 0, milliseconds(30000), 2},
        {"no-checksum", Kind::NoChecksum, 1, 0, milliseconds(30000), 2},
        {"lose-answer", Kind::LoseAnswer, 1, 0, milliseconds(30000), 2},
        {"lose-answer,action=erase", Kind::LoseAnswer, 1, 0, milliseconds(30000), 0},
        {"ignore-command,action=snapshot,every=1", Kind::IgnoreCommand, 1, 1, milliseconds(30000),
         2},
        {"restart,at=1000000000", Kind::Restart, 1000000000, 0, milliseconds(30000), 2},
        {"vanish,at=2", Kind::Vanish, 2, 0, milliseconds(30000), 2},
    };
    for (const auto& c : cases) {
        Fault f;
        std::string why;
        ASSERT_TRUE(camsim::parseFaultSpec(c.spec, f, why)) << c.spec << ": " << why;
        EXPECT_EQ(f.kind, c.kind) << c.spec;
        EXPECT_EQ(f.at, c.at) << c.spec;
        EXPECT_EQ(f.every, c.every) << c.spec;
        EXPECT_EQ(f.duration, c.duration) << c.spec;
        EXPECT_EQ(f.action, c.action) << c.spec;
        EXPECT_STREQ(camsim::faultName(f.kind),
                     std::string(c.spec).substr(0, std::string(c.spec).find(',')).c_str());
    }
}

TEST(FaultSpec, RefusesWhatItCannotUseAndSaysWhy) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "no fault named"},
        {"Restart", "unknown fault 'Restart'"},
        {"restart,", "'' is no KEY=VALUE"},
        {"restart,at", "'at' is no KEY=VALUE"},
        {"restart,at=", "at= needs a count from 1"},
        {"restart,at=0", "at= needs a count from 1"},
        {"restart,every=-1", "every= needs a count from 1"},
        {"restart,at=1000000001", "at= needs a count from 1"},
        {"restart,at=1,at=2", "at= given twice"},
        {"restart,colour=red", "unknown key 'colour'"},
        {"garble-packet,for=1s", "for= means nothing to garble-packet"},
        {"restart,action=snapshot", "action= means nothing to restart"},
        {"no-checksum,at=2", "at= means nothing to no-checksum"},
        {"stall-mid-transfer,for=5", "for= needs a duration"},
        {"stall-mid-transfer,for=0ms", "for= needs a duration"},
        {"stall-mid-transfer,for=1m", "for= needs a duration"},
        {"stall-mid-transfer,for=ms", "for= needs a duration"},
        {"stall-mid-transfer,for=86401s", "for= needs a duration"},
        {"lose-answer,action=delete", "action= is snapshot or erase"},
    };
    for (const auto& [spec, reason] : cases) {
        Fault f;
        f.at = 77;
        std::string why;
        EXPECT_FALSE(camsim::parseFaultSpec(spec, f, why)) << spec;
        EXPECT_NE(why.find(reason), std::string::npos) << spec << ": " << why;
        EXPECT_EQ(f.at, 77) << spec;  // left as it was
    }
}

}  // namespace
}  // namespace simtest
