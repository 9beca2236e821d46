#include "status/address_rules.h"

#include "common/address.h"
#include "common/blanks.h"

namespace lumira {

namespace {

// More than any body the server takes, and at most half the 32767 bytes the reader returns:
// a character of two bytes here may take four in a GB18030 file.
constexpr size_t kLongest = 16383;

bool hasControlCharacters(const std::string& text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7f)
            return true;
    return false;
}

bool whollyQuoted(const std::string& text) {
    return text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
           text.back() == text.front();
}

} // namespace

std::optional<std::string> refusedAddress(const QString& address, const QString& folder) {
    const std::string value = address.toStdString();
    if (value.empty())
        return "give the new address as the form field or JSON member url";
    if (trimBlanks(value).empty())
        return "the address is blank";
    if (hasControlCharacters(value))
        return "the address holds a line break or another control character";
    if (trimBlanks(value).size() != value.size())
        return "the address begins or ends with a blank";
    if (whollyQuoted(value))
        return "the address is enclosed in quotation marks";
    if (value.size() > kLongest)
        return "the address is too long";
    const QUrl url = addressToUrl(address, folder);
    if (!url.isValid() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        return "only a web address (http or https) is taken here";
    if (url.host().isEmpty())
        return "the address names no host";
    return std::nullopt;
}

QString addressWithoutSecrets(const QString& address, const QString& folder) {
    const QUrl url = addressToUrl(address, folder);
    if (!url.isValid())
        return {};
    return url.adjusted(QUrl::RemoveUserInfo | QUrl::RemoveQuery | QUrl::RemoveFragment).toString();
}

} // namespace lumira
