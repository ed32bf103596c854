// Test helpers for the link: a scratch working directory, a pseudo-terminal
// standing in for a serial port, reply frames built independently of the
// program's encoder, and buffers that end at an unreadable page so that any
// read past the received count crashes the test.
#pragma once

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "platform/Rs232.h"
#include "platform/Toolkit.h"
#include "support/UiTestSupport.h"

using Bytes = std::vector<uint8_t>;

inline Bytes B(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

// "{", L, 0, address, text, checksum of offsets 1..L, "}".
inline Bytes ReplyFrame(int address, const std::string& text) {
    Bytes f{0x7B, static_cast<uint8_t>(text.size() + 3), 0x00, static_cast<uint8_t>(address)};
    for (char ch : text) {
        f.push_back(static_cast<uint8_t>(ch));
    }
    unsigned sum = 0;
    for (size_t i = 1; i < f.size(); ++i) {
        sum += f[i];
    }
    f.push_back(static_cast<uint8_t>(sum));
    f.push_back(0x7D);
    return f;
}

class GuardedBytes {
  public:
    explicit GuardedBytes(const Bytes& content) {
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        base_ = static_cast<uint8_t*>(
            mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        mprotect(base_ + page_, page_, PROT_NONE);
        data_ = base_ + page_ - content.size();
        if (!content.empty()) {
            std::memcpy(data_, content.data(), content.size());
        }
    }
    ~GuardedBytes() { munmap(base_, 2 * page_); }
    GuardedBytes(const GuardedBytes&) = delete;
    GuardedBytes& operator=(const GuardedBytes&) = delete;
    const uint8_t* data() const { return data_; }

  private:
    size_t page_;
    uint8_t* base_;
    uint8_t* data_;
};

// Scratch folders and popup answers come from the shared test support.
using vx52test::PopupRecorder;
using vx52test::ScratchDir;

// The master side of a pseudo-terminal whose slave is linked as linkName in
// the working directory. Every wait is bounded and ends as soon as the bytes
// are there.
class Pty {
  public:
    explicit Pty(const std::string& linkName) {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(master_, 0);
        EXPECT_EQ(grantpt(master_), 0);
        EXPECT_EQ(unlockpt(master_), 0);
        EXPECT_EQ(symlink(ptsname(master_), linkName.c_str()), 0);
    }
    ~Pty() { Close(); }
    void Close() {
        if (master_ >= 0) {
            close(master_);
        }
        master_ = -1;
    }
    void Write(const Bytes& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Until the program's port reports at least n queued bytes.
    void WaitQueued(int port, int n) {
        for (int i = 0; i < 2000 && GetInQLen(port) < n; ++i) {
            ShortPoll(0, 1);
        }
        ASSERT_GE(GetInQLen(port), n);
    }
    Bytes Read(size_t n) {
        Bytes out;
        for (int i = 0; i < 2000 && out.size() < n; ++i) {
            uint8_t buf[512];
            ssize_t r = read(master_, buf, std::min(sizeof buf, n - out.size()));
            if (r > 0) {
                out.insert(out.end(), buf, buf + r);
            } else {
                ShortPoll(POLLIN, 1);
            }
        }
        return out;
    }
    // One request frame; its length byte says how long it is.
    Bytes ReadFrame() {
        Bytes f = Read(2);
        if (f.size() == 2) {
            Bytes rest = Read(static_cast<size_t>(f[1]) + 1);
            f.insert(f.end(), rest.begin(), rest.end());
        }
        return f;
    }
    bool Quiet() { return ShortPoll(POLLIN, 20) == 0; }

  private:
    int ShortPoll(short events, int ms) {
        pollfd p{master_, events, 0};
        return poll(&p, 1, ms);
    }
    int master_ = -1;
};
