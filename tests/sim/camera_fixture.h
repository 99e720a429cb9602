// A camera serving a pseudo-terminal, with the host's end already open.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/camsim.h"
#include "tests/sim/host_port.h"

namespace simtest {

class CameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = cam.startSerial();
        ASSERT_FALSE(path.empty());
        host = std::make_unique<HostPort>(path);
        ASSERT_TRUE(host->isOpen());
    }

    // One command, and the single byte the camera answers it with.
    int command(const Bytes& payload) {
        host->writeCommand(payload);
        return host->readByte();
    }

    // Reads a getvar or getint reply to its end, acknowledging every packet.
    // The sequence numbers and types are checked on the way.
    Bytes readTransfer() {
        Bytes data;
        for (std::uint8_t seq = 0;; ++seq) {
            auto p = host->readPacket();
            if (!p) {
                ADD_FAILURE() << "no packet " << int(seq);
                return data;
            }
            EXPECT_TRUE(p->sumOk);
            EXPECT_EQ(p->seq, seq);
            data.insert(data.end(), p->payload.begin(), p->payload.end());
            host->writeByte(kAck);
            if (p->type == 0x03)
                return data;
            EXPECT_EQ(p->type, 0x02);
        }
    }

    camsim::Camera cam;
    std::string path;
    std::unique_ptr<HostPort> host;
};

}  // namespace simtest
