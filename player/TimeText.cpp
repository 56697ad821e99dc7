#include "player/TimeText.h"

#include <charconv>

namespace sequora::player {

namespace {
constexpr int64_t kSecondsPerMinute = 60;
constexpr int64_t kTwoDigits = 10;
} // namespace

int64_t displayedSeconds(int64_t units)
{
    const int64_t whole = units / kUnitsPerSecond;
    const int64_t rest = units % kUnitsPerSecond;
    const int64_t half = kUnitsPerSecond / 2;
    if (rest > half || (rest == half && whole % 2 != 0))
        return whole + 1;
    return whole;
}

QString timeText(int64_t units)
{
    const int64_t seconds = units > 0 ? displayedSeconds(units) : 0;
    const int64_t m = seconds / kSecondsPerMinute;
    const int64_t s = seconds % kSecondsPerMinute;
    QString text = m < kTwoDigits ? QStringLiteral("0") + QString::number(m) : QString::number(m);
    text += s < kTwoDigits ? QStringLiteral(":0") : QStringLiteral(":");
    text += QString::number(s);
    return text;
}

QString trackNumberText(int64_t n)
{
    if (n < kTwoDigits)
        return QStringLiteral("[0") + QString::number(n) + QStringLiteral("]");
    return QStringLiteral("[") + QString::number(n) + QStringLiteral("]");
}

std::optional<int64_t> unitsFromReply(const std::string& reply)
{
    int64_t value = 0;
    const char* end = reply.data() + reply.size();
    const auto [stop, ec] = std::from_chars(reply.data(), end, value);
    if (reply.empty() || ec != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

} // namespace sequora::player
