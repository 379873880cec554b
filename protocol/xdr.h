// XDR (RFC 4506) primitives: big-endian 4-byte words, opaque data padded to 4.
// Pure code, no I/O. The reader never allocates from a length it reads unless
// the caller gives an upper bound, so hostile input cannot make it grow memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarnel {
namespace protocol {

/// Non-owning view of bytes (points into a message buffer or the caller's data).
struct ByteView
{
    const uint8_t* data = nullptr;
    size_t size = 0;

    ByteView() = default;
    ByteView(const uint8_t* d, size_t n) : data(d), size(n) {}
    ByteView(const std::vector<uint8_t>& v) : data(v.data()), size(v.size()) {}
    std::string toString() const { return std::string(reinterpret_cast<const char*>(data), size); }
};

constexpr size_t kXdrUnit = 4;

/// Number of zero bytes that follow `length` bytes of opaque data (0..3).
constexpr size_t xdrPadding(size_t length)
{
    return (kXdrUnit - length % kXdrUnit) % kXdrUnit;
}

/// Stores a 32-bit value big-endian at p (4 bytes).
void storeBigEndian32(uint8_t* p, uint32_t value);
/// Loads a big-endian 32-bit value from p (4 bytes).
uint32_t loadBigEndian32(const uint8_t* p);

/// Appends XDR items to a byte vector it owns.
class XdrWriter
{
public:
    XdrWriter() = default;
    /// Starts the buffer with room for a 4-byte RPC record mark; see finishRecord().
    static XdrWriter forRecord();

    void putUint32(uint32_t value);
    void putInt32(int32_t value) { putUint32(static_cast<uint32_t>(value)); }
    void putBool(bool value) { putUint32(value ? 1u : 0u); }
    /// Variable-length opaque: length word, bytes, padding.
    void putOpaque(const uint8_t* data, size_t size);
    void putOpaque(ByteView v) { putOpaque(v.data, v.size); }
    void putString(const std::string& s) { putOpaque(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
    /// Fixed-length opaque: bytes and padding, no length word.
    void putFixedOpaque(const uint8_t* data, size_t size);
    /// Zero bytes completing `length` bytes of opaque data written elsewhere.
    void putPadding(size_t length);

    /// For a writer made by forRecord(): writes a single last-fragment record
    /// mark covering everything after it. Returns false if the body is too long
    /// for one fragment (the buffer is then left unchanged).
    bool finishRecord();

    const std::vector<uint8_t>& bytes() const { return m_buf; }
    std::vector<uint8_t>& bytes() { return m_buf; }
    std::vector<uint8_t> take() { return std::move(m_buf); }
    size_t size() const { return m_buf.size(); }

private:
    std::vector<uint8_t> m_buf;
    bool m_record = false;
};

/// Reads XDR items from a byte range. After the first failure every further
/// get returns false, so a decoder may check ok() once at the end.
class XdrReader
{
public:
    XdrReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}
    explicit XdrReader(ByteView v) : m_data(v.data), m_size(v.size) {}

    bool getUint32(uint32_t& value);
    bool getInt32(int32_t& value);
    /// Accepts only 0 and 1, as XDR requires.
    bool getBool(bool& value);
    /// Variable-length opaque of at most maxLength bytes; `out` points into the
    /// input, nothing is copied. Fails on a longer length or truncated input.
    bool getOpaque(ByteView& out, uint32_t maxLength);
    /// As getOpaque, copied into a string.
    bool getString(std::string& out, uint32_t maxLength);
    /// Skips a variable-length opaque of at most maxLength bytes.
    bool skipOpaque(uint32_t maxLength);

    bool ok() const { return m_ok; }
    size_t offset() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos == m_size; }
    /// Marks the reader failed (used by decoders for semantic errors).
    void fail() { m_ok = false; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

}  // namespace protocol
}  // namespace quarnel
