// Instrument replies as trace blocks: whatever the bytes, the parser must not
// read past them, nor produce more values than the bytes can hold.
#include "block.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray reply = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(size));
    QVector<double> values{42.0};
    if (block::parseReply(reply, &values)) {
        if (std::size_t(values.size()) * 4 > size)
            std::abort();
    } else if (values.size() != 1 || values[0] != 42.0) {
        std::abort();  // a failed parse must leave the target alone
    }
    return 0;
}
