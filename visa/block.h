// IEEE 488.2 definite-length arbitrary blocks (488.2 section 8.7.9):
// "#", one digit n (1..9), n digits giving the byte count L, L data bytes,
// then the response terminator. The instruments send traces this way as
// little-endian IEEE 754 single-precision values.
//
// Plain functions without any I/O, so the transfer in ReadArray and the
// tests share one parser.
#pragma once

#include <QByteArray>
#include <QVector>

#include <cstddef>
#include <cstdint>

namespace block {

// Largest length nine digits can declare; L + 10 still fits a 32-bit count.
constexpr std::uint32_t kMaxDeclaredLength = 999999999u;

// Number of length digits announced by the first two bytes of a reply, or
// -1 when they are not "#" followed by a digit 1..9. The indefinite form
// "#0" is rejected: its end is only known from the terminator.
int lengthDigitCount(const char* lead, std::size_t size);

// The declared data length from the n length digits. False unless exactly
// n (1..9) bytes are given and every one is an ASCII digit.
bool parseLength(const char* digits, std::size_t size, int n, std::uint32_t* length);

// How many of the received bytes belong to the data part of a block that
// declared `declared` bytes. Never more than was received nor more than was
// declared. When the message ended before the declared length, a final
// newline is the terminator, not data.
std::size_t dataBytes(std::uint32_t declared, const char* received, std::size_t size);

// One little-endian IEEE 754 single-precision value, widened; the same
// result on any host byte order.
double floatFromLittleEndian(const unsigned char* p);

// Values from the first `bytes` bytes: bytes / 4 of them, a remainder of
// 1 to 3 bytes is ignored. Throws std::bad_alloc like any Qt container.
QVector<double> decodeFloat32(const char* data, std::size_t bytes);

// The same into *values (replaced), in the storage it already has when that
// is large enough and not shared: a series reads traces of one length pass
// after pass, and fresh memory for 10,000,000 doubles costs more than the
// conversion itself. Throws std::bad_alloc like any Qt container.
void decodeFloat32Into(const char* data, std::size_t bytes, QVector<double>* values);

// A whole reply as it comes from the instrument: header, data, terminator.
// True with the values in *values (replaced) when the header is well formed;
// a short data part yields the values of the bytes present. On false
// *values is untouched.
bool parseReply(const QByteArray& reply, QVector<double>* values);

}  // namespace block
