// The byte sink of bank layout: bytes in, appended to the job's bank image out.
// Codec is the interface; NullCodec writes every byte unchanged (and layout, seeing
// one, lays the image out as pieces of the packed stream instead).
#pragma once

#include <cstddef>
#include <cstdint>

#include "convert/bytes.h"

namespace quorvel {

class Codec {
public:
    virtual ~Codec() = default;
    virtual void put(int byte) = 0;
    virtual void putCommand(int byte) = 0;
    virtual void finish() = 0;
    virtual int status(int query) = 0;
    // Operands go through put(), so a codec that overrides put() changes them too.
    virtual void putOperand(int byte) { put(byte); }
    virtual int byteCount() = 0;
};

class NullCodec : public Codec {
public:
    explicit NullCodec(Bytes& image) : image_(image) {}

    void put(int byte) override { append(byte); }
    void putCommand(int byte) override { append(byte); }
    void finish() override {}
    int status(int) override { return 0; }
    int byteCount() override { return static_cast<int>(count_); }

private:
    void append(int byte)
    {
        image_.push_back(static_cast<std::uint8_t>(byte));
        ++count_;
    }

    Bytes& image_; // the job's bank image, not owned
    std::uint32_t count_ = 0;
};

} // namespace quorvel
