#include "block.h"

#include <QtEndian>

#include <cstring>

namespace block {

int lengthDigitCount(const char* lead, std::size_t size)
{
    if (size < 2 || lead[0] != '#')
        return -1;
    if (lead[1] < '1' || lead[1] > '9')
        return -1;
    return lead[1] - '0';
}

bool parseLength(const char* digits, std::size_t size, int n, std::uint32_t* length)
{
    if (n < 1 || n > 9 || size != std::size_t(n))
        return false;
    std::uint32_t value = 0;
    for (int i = 0; i < n; ++i) {
        if (digits[i] < '0' || digits[i] > '9')
            return false;
        // Nine digits stay below 10^9, so this never overflows 32 bits.
        value = value * 10u + std::uint32_t(digits[i] - '0');
    }
    *length = value;
    return true;
}

std::size_t dataBytes(std::uint32_t declared, const char* received, std::size_t size)
{
    if (size > declared)
        return declared;
    // Short block: the message ended early, and what ended it is the
    // terminator, not a data byte.
    if (size > 0 && size < declared && received[size - 1] == '\n')
        return size - 1;
    return size;
}

double floatFromLittleEndian(const unsigned char* p)
{
    const quint32 bits = qFromLittleEndian<quint32>(p);
    float f;
    static_assert(sizeof f == sizeof bits, "IEEE 754 single precision expected");
    std::memcpy(&f, &bits, sizeof f);
    return double(f);
}

QVector<double> decodeFloat32(const char* data, std::size_t bytes)
{
    QVector<double> values;
    decodeFloat32Into(data, bytes, &values);
    return values;
}

void decodeFloat32Into(const char* data, std::size_t bytes, QVector<double>* values)
{
    const std::size_t count = bytes / 4;
    values->resize(int(count));
    double* out = values->data();
    const auto* p = reinterpret_cast<const unsigned char*>(data);
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // The wire order is the host's: a plain copy per value, no byte shuffling.
    for (std::size_t i = 0; i < count; ++i) {
        float f;
        std::memcpy(&f, p + 4 * i, sizeof f);
        out[i] = double(f);
    }
#else
    for (std::size_t i = 0; i < count; ++i)
        out[i] = floatFromLittleEndian(p + 4 * i);
#endif
}

bool parseReply(const QByteArray& reply, QVector<double>* values)
{
    const char* p = reply.constData();
    const std::size_t size = std::size_t(reply.size());
    const int n = lengthDigitCount(p, size);
    if (n < 0 || size < std::size_t(2 + n))
        return false;
    std::uint32_t declared = 0;
    if (!parseLength(p + 2, std::size_t(n), n, &declared))
        return false;
    const char* data = p + 2 + n;
    const std::size_t rest = size - std::size_t(2 + n);
    *values = decodeFloat32(data, dataBytes(declared, data, rest));
    return true;
}

}  // namespace block
