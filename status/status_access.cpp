#include "status/status_access.h"

#include "common/blanks.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QString>
#include <arpa/inet.h>
#include <charconv>
#include <cstring>

namespace lumira {

namespace {

constexpr char kLoopback[] = "127.0.0.1";

bool portNumber(std::string_view text, int& port) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && error == std::errc() && end == text.data() + text.size() && port >= 1 &&
           port <= 65535;
}

bool startsWithWord(const std::string& text, const char* word, std::string& rest) {
    const std::string_view view(text);
    const size_t length = std::char_traits<char>::length(word);
    if (view.size() <= length ||
        QByteArray(text.data(), qsizetype(length)).compare(word, Qt::CaseInsensitive) != 0 ||
        view[length] != ' ')
        return false;
    rest = std::string(trimBlanks(view.substr(length + 1)));
    return true;
}

// The password of a Basic credential: "user:password" in base64.
std::string basicPassword(const std::string& encoded) {
    const auto decoded = QByteArray::fromBase64Encoding(QByteArray::fromStdString(encoded),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const qsizetype colon = decoded.decoded.indexOf(':');
    return colon < 0 ? std::string() : decoded.decoded.mid(colon + 1).toStdString();
}

// An address literal: its family and bytes; family 0 when it is none.
struct Address {
    int family = 0;
    unsigned char bytes[16] = {};
};

Address parseAddress(const std::string& text) {
    Address address;
    if (::inet_pton(AF_INET, text.c_str(), address.bytes) == 1)
        address.family = AF_INET;
    else if (::inet_pton(AF_INET6, text.c_str(), address.bytes) == 1)
        address.family = AF_INET6;
    return address;
}

bool isLoopback(const Address& address) {
    static const unsigned char v6Loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    static const unsigned char v4Mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    if (address.family == AF_INET)
        return address.bytes[0] == 127;
    if (address.family != AF_INET6)
        return false;
    return std::memcmp(address.bytes, v6Loopback, 16) == 0 ||
           (std::memcmp(address.bytes, v4Mapped, 12) == 0 && address.bytes[12] == 127);
}

// The token in an Authorization header: as a bearer token, or as a Basic password when
// `basicToo`.
bool tokenShown(const std::string& authorization, const std::string& token, bool basicToo) {
    if (!tokenSet(token))
        return false;
    std::string given;
    if (startsWithWord(authorization, "Bearer", given))
        return sameSecret(given, token);
    if (basicToo && startsWithWord(authorization, "Basic", given))
        return sameSecret(basicPassword(given), token);
    return false;
}

bool hostIsLoopbackName(const std::string& host, int port) {
    const QString wanted = QStringLiteral(":%1").arg(port);
    const QString given = QString::fromStdString(host).toLower();
    for (const char* name : {"127.0.0.1", "localhost", "[::1]"})
        if (given == QLatin1String(name) + wanted || (port == 80 && given == QLatin1String(name)))
            return true; // a browser leaves out the default port
    return false;
}

} // namespace

bool tokenSet(const std::string& token) {
    return QString::fromStdString(token).size() >= kTokenMinimum;
}

ListenPlan planListening(const std::string& status, const std::string& token) {
    ListenPlan plan;
    const std::string value(trimBlanks(status));
    if (value.empty())
        return plan;
    int port = 0;
    std::string host = kLoopback;
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos) {
        if (!portNumber(value, port)) {
            plan.warning = "Status=" + value + " is not a port or address:port; no status server";
            return plan;
        }
    } else {
        std::string address = value.substr(0, colon);
        if (QString::fromStdString(address).compare(QLatin1String("localhost"),
                                                    Qt::CaseInsensitive) == 0)
            address = kLoopback;
        else if (address.size() > 2 && address.front() == '[' && address.back() == ']')
            address = address.substr(1, address.size() - 2);
        else if (address.find(':') != std::string::npos)
            address.clear(); // IPv6 without brackets: the port cannot be told apart
        const Address parsed = parseAddress(address);
        if (!portNumber(std::string_view(value).substr(colon + 1), port) || parsed.family == 0) {
            plan.warning = "Status=" + value + " is not a port or address:port; no status server";
            return plan;
        }
        host = address;
        if (!isLoopback(parsed) && !tokenSet(token)) {
            plan.warning = "Status=" + value + " needs a StatusToken of at least 16 characters; " +
                           "the status server listens on 127.0.0.1:" + std::to_string(port) +
                           " only";
            host = kLoopback;
        }
    }
    plan.enabled = true;
    plan.host = host;
    plan.port = port;
    return plan;
}

bool loopbackAddress(const std::string& ip) {
    return isLoopback(parseAddress(ip));
}

bool sameSecret(const std::string& a, const std::string& b) {
    // Digests of equal length, compared without an early exit.
    const QByteArray x =
        QCryptographicHash::hash(QByteArray::fromStdString(a), QCryptographicHash::Sha256);
    const QByteArray y =
        QCryptographicHash::hash(QByteArray::fromStdString(b), QCryptographicHash::Sha256);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < x.size(); ++i)
        difference |= static_cast<unsigned char>(x[i] ^ y[i]);
    return difference == 0;
}

Admission admit(const Asker& asker, int port, const std::string& token) {
    if (asker.loopbackPeer && !hostIsLoopbackName(asker.host, port))
        return Admission::WrongHost;
    if (asker.command && !tokenSet(token))
        return Admission::NoToken;
    if (!asker.command && asker.loopbackPeer)
        return Admission::Allowed;
    return tokenShown(asker.authorization, token, !asker.command) ? Admission::Allowed
                                                                  : Admission::NeedsAuth;
}

bool readsWholeAddress(const std::string& authorization, const std::string& token) {
    return tokenShown(authorization, token, true);
}

} // namespace lumira
