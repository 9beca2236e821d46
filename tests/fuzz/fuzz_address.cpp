// The address rule on any text: never a crash, and an address with blanks around reads as the
// same address without them.
#include "common/address.h"

#include <QDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QString folder = QDir::tempPath();
    const QUrl url = lumira::addressToUrl(text, folder);
    const QUrl padded =
        lumira::addressToUrl(QStringLiteral("  ") + text + QStringLiteral("\t"), folder);
    if (url != padded)
        std::abort();
    return 0;
}
