// Builds VGM images in memory: header fields and commands in, the file's bytes out.
// Used by the example generator and by the tests.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "convert/bytes.h"

namespace quorvel {

class VgmBuilder {
public:
    // A header of `headerSize` bytes (at least 0x40) with the data offset pointing
    // right behind it.
    explicit VgmBuilder(std::uint32_t version = 0x150, std::uint32_t headerSize = 0x40)
        : bytes_(headerSize, 0x00)
    {
        bytes_[0] = 'V';
        bytes_[1] = 'g';
        bytes_[2] = 'm';
        bytes_[3] = ' ';
        setLe32(bytes_, 0x08, version);
        setLe32(bytes_, 0x34, headerSize - 0x34);
    }

    VgmBuilder& field(std::size_t offset, std::uint32_t value)
    {
        setLe32(bytes_, offset, value);
        return *this;
    }
    VgmBuilder& commands(std::initializer_list<std::uint8_t> list)
    {
        bytes_.insert(bytes_.end(), list.begin(), list.end());
        return *this;
    }
    VgmBuilder& commands(const Bytes& list)
    {
        bytes_.insert(bytes_.end(), list.begin(), list.end());
        return *this;
    }
    // The loop starts at the next command.
    VgmBuilder& loopHere()
    {
        setLe32(bytes_, 0x1C, static_cast<std::uint32_t>(bytes_.size() - 0x1C));
        return *this;
    }
    VgmBuilder& dataBlock(std::uint8_t type, const Bytes& data)
    {
        commands({0x67, 0x66, type});
        bytes_.resize(bytes_.size() + 4);
        setLe32(bytes_, bytes_.size() - 4, static_cast<std::uint32_t>(data.size()));
        return commands(data);
    }
    VgmBuilder& wait(std::uint32_t samples)
    {
        while (samples > 0) {
            const std::uint32_t n = samples > 0xFFFF ? 0xFFFF : samples;
            commands({0x61, static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
            samples -= n;
        }
        return *this;
    }
    std::size_t size() const { return bytes_.size(); }
    // The bytes written from `from` on.
    Bytes since(std::size_t from) const { return Bytes(bytes_.begin() + static_cast<long>(from), bytes_.end()); }

    // A GD3 tag of the given strings (UTF-16), as it follows the data.
    static Bytes gd3(const std::vector<std::u16string>& fields)
    {
        Bytes text;
        for (const std::u16string& field : fields) {
            for (char16_t c : field) {
                text.push_back(static_cast<std::uint8_t>(c));
                text.push_back(static_cast<std::uint8_t>(c >> 8));
            }
            text.push_back(0);
            text.push_back(0);
        }
        Bytes tag = {'G', 'd', '3', ' ', 0x00, 0x01, 0x00, 0x00, 0, 0, 0, 0};
        setLe32(tag, 8, static_cast<std::uint32_t>(text.size()));
        tag.insert(tag.end(), text.begin(), text.end());
        return tag;
    }

    // Ends the data with 0x66 and the bytes of `tag` behind it (a GD3 tag, whole or
    // not); sets the end-of-file and GD3 offsets.
    Bytes finishWithTag(const Bytes& tag)
    {
        commands({0x66});
        setLe32(bytes_, 0x14, static_cast<std::uint32_t>(bytes_.size() - 0x14));
        commands(tag);
        setLe32(bytes_, 0x04, static_cast<std::uint32_t>(bytes_.size() - 4));
        return bytes_;
    }

    // Ends the data with 0x66 and, when `title` is given, a GD3 tag behind it; sets
    // the end-of-file and GD3 offsets.
    Bytes finish(const std::string& title = std::string())
    {
        commands({0x66});
        if (!title.empty()) {
            setLe32(bytes_, 0x14, static_cast<std::uint32_t>(bytes_.size() - 0x14));
            Bytes text;
            auto addString = [&text](const std::string& s) {
                for (char ch : s) {
                    text.push_back(static_cast<std::uint8_t>(ch));
                    text.push_back(0);
                }
                text.push_back(0);
                text.push_back(0);
            };
            addString(title);
            for (int n = 0; n < 10; ++n) addString(n == 2 ? "quorvel" : "");
            commands({'G', 'd', '3', ' ', 0x00, 0x01, 0x00, 0x00});
            bytes_.resize(bytes_.size() + 4);
            setLe32(bytes_, bytes_.size() - 4, static_cast<std::uint32_t>(text.size()));
            commands(text);
        }
        setLe32(bytes_, 0x04, static_cast<std::uint32_t>(bytes_.size() - 4));
        return bytes_;
    }

private:
    Bytes bytes_;
};

// `data` as one gzip member, at zlib's `level`.
inline Bytes gzipBytes(const Bytes& data, int level = 9)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace quorvel
