// Zip archives made byte by byte for the tests: every field that matters here (the name's raw bytes, the
// UTF-8 flag, extra fields, the sizes the directory claims) is set by the test, which no zipping program
// allows all at once.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace importtest {

struct RawZipEntry {
  std::string name;             // raw bytes as stored
  std::string data;             // content
  std::uint64_t zeros = 0;      // then this many zero bytes (streamed, never held in memory)
  bool utf8Flag = false;        // general-purpose flag bit 11
  std::string extra;            // extra field block, in the local header and the directory
  bool deflate = false;         // method 8, else stored
  std::optional<std::uint32_t> claimedSize;  // the uncompressed size the headers claim, when not the truth

  explicit RawZipEntry(std::string rawName, std::string content = {})
      : name(std::move(rawName)), data(std::move(content)) {}
  RawZipEntry& Zeros(std::uint64_t count) { return zeros = count, *this; }
  RawZipEntry& Utf8Flag() { return utf8Flag = true, *this; }
  RawZipEntry& Extra(std::string block) { return extra = std::move(block), *this; }
  RawZipEntry& Deflate() { return deflate = true, *this; }
  RawZipEntry& Claim(std::uint32_t size) { return claimedSize = size, *this; }
};

// Info-ZIP Unicode path extra field (0x7075): version 1, CRC-32 of the raw name, the UTF-8 name.
inline std::string UnicodePathExtra(const std::string& rawName, const std::string& utf8Name) {
  auto le16 = [](std::string& s, unsigned v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); };
  std::string extra;
  le16(extra, 0x7075);
  le16(extra, static_cast<unsigned>(5 + utf8Name.size()));
  extra += char(1);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(rawName.data()), static_cast<uInt>(rawName.size()));
  for (int i = 0; i < 4; ++i) extra += char((crc >> (8 * i)) & 0xFF);
  return extra + utf8Name;
}

class RawZipWriter {
 public:
  static std::string Build(const std::vector<RawZipEntry>& entries) {
    RawZipWriter writer;
    for (const RawZipEntry& entry : entries) writer.Add(entry);
    return writer.Finish();
  }

 private:
  struct Written {
    const RawZipEntry* entry;
    std::uint32_t crc, compressedSize, size, offset;
  };

  static void Put16(std::string& s, unsigned v) { s += char(v & 0xFF), s += char((v >> 8) & 0xFF); }
  static void Put32(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += char((v >> (8 * i)) & 0xFF);
  }

  // The content compressed (raw deflate) or stored, and its CRC-32 and length.
  static std::string Payload(const RawZipEntry& entry, std::uint32_t& crc, std::uint64_t& length) {
    crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()), static_cast<uInt>(entry.data.size())));
    length = entry.data.size() + entry.zeros;
    const std::vector<unsigned char> zeros(1 << 20, 0);
    for (std::uint64_t left = entry.zeros; left > 0;) {
      const auto n = static_cast<uInt>(std::min<std::uint64_t>(left, zeros.size()));
      crc = static_cast<std::uint32_t>(crc32(crc, zeros.data(), n));
      left -= n;
    }
    if (!entry.deflate) return entry.data + std::string(entry.zeros, '\0');
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::string out;
    std::vector<unsigned char> buffer(1 << 16);
    auto pump = [&](const void* in, std::size_t n, int flush) {
      stream.next_in = static_cast<Bytef*>(const_cast<void*>(in));
      stream.avail_in = static_cast<uInt>(n);
      do {
        stream.next_out = buffer.data();
        stream.avail_out = static_cast<uInt>(buffer.size());
        deflate(&stream, flush);
        out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - stream.avail_out);
      } while (stream.avail_out == 0);
    };
    pump(entry.data.data(), entry.data.size(), Z_NO_FLUSH);
    for (std::uint64_t left = entry.zeros; left > 0;) {
      const auto n = std::min<std::uint64_t>(left, zeros.size());
      pump(zeros.data(), n, Z_NO_FLUSH);
      left -= n;
    }
    pump(nullptr, 0, Z_FINISH);
    deflateEnd(&stream);
    return out;
  }

  void Header(std::string& s, const Written& w, bool central) {
    const RawZipEntry& e = *w.entry;
    if (central) Put16(s, 20);  // version made by
    Put16(s, 20);               // version needed
    Put16(s, e.utf8Flag ? 0x0800 : 0);
    Put16(s, e.deflate ? 8 : 0);
    Put16(s, 0), Put16(s, 0x21);  // time, date
    Put32(s, w.crc), Put32(s, w.compressedSize), Put32(s, w.size);
    Put16(s, static_cast<unsigned>(e.name.size())), Put16(s, static_cast<unsigned>(e.extra.size()));
    if (central) {
      Put16(s, 0), Put16(s, 0), Put16(s, 0);  // comment length, disk, internal attributes
      Put32(s, 0), Put32(s, w.offset);        // external attributes, local header offset
    }
    s += e.name + e.extra;
  }

  void Add(const RawZipEntry& entry) {
    std::uint32_t crc = 0;
    std::uint64_t length = 0;
    const std::string payload = Payload(entry, crc, length);
    const Written w{&entry, crc, static_cast<std::uint32_t>(payload.size()),
                    entry.claimedSize.value_or(static_cast<std::uint32_t>(length)),
                    static_cast<std::uint32_t>(zip_.size())};
    Put32(zip_, 0x04034b50);
    Header(zip_, w, false);
    zip_ += payload;
    written_.push_back(w);
  }

  std::string Finish() {
    const auto directoryStart = static_cast<std::uint32_t>(zip_.size());
    for (const Written& w : written_) {
      Put32(zip_, 0x02014b50);
      Header(zip_, w, true);
    }
    const auto directorySize = static_cast<std::uint32_t>(zip_.size()) - directoryStart;
    Put32(zip_, 0x06054b50);
    Put16(zip_, 0), Put16(zip_, 0);
    Put16(zip_, static_cast<unsigned>(written_.size())), Put16(zip_, static_cast<unsigned>(written_.size()));
    Put32(zip_, directorySize), Put32(zip_, directoryStart);
    Put16(zip_, 0);
    return zip_;
  }

  std::string zip_;
  std::vector<Written> written_;
};

}  // namespace importtest
