#include "ConfigurationRules.h"

namespace Configuration {

std::optional<int64_t> WholeNumber(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 32)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 32)
        --end;
    bool negative = false;
    if (begin < end && (text[begin] == QLatin1Char('+') || text[begin] == QLatin1Char('-'))) {
        negative = text[begin] == QLatin1Char('-');
        ++begin;
    }
    if (begin == end) return std::nullopt;
    // Counted as an unsigned magnitude that stops growing past the widest edit range, so a long
    // run of digits is still a number, only too big.
    constexpr uint64_t kCap = uint64_t{1} << 62;
    uint64_t magnitude = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        if (magnitude < kCap) magnitude = magnitude * 10 + (c - u'0');
    }
    if (magnitude > kCap) magnitude = kCap;
    const auto value = static_cast<int64_t>(magnitude);
    return negative ? -value : value;
}

std::optional<int64_t> EditValue(const QString& text, EditRange range, const QString& what,
                                 QString& refusal) {
    const std::optional<int64_t> value = WholeNumber(text);
    const QString allowed = QStringLiteral("a whole number from ") + QString::number(range.min) +
                            QStringLiteral(" to ") + QString::number(range.max);
    if (!value) {
        refusal = QStringLiteral("Range check error: ") + what + QStringLiteral(" \"") + text +
                  QStringLiteral("\" is not ") + allowed + QStringLiteral(".");
        return std::nullopt;
    }
    if (*value < range.min || *value > range.max) {
        refusal = QStringLiteral("Range check error: ") + what + QStringLiteral(" ") + text.trimmed() +
                  QStringLiteral(" is out of range: ") + allowed + QStringLiteral(" is expected.");
        return std::nullopt;
    }
    refusal.clear();
    return value;
}

uint16_t MultiturnPresetValue(int32_t value) {
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

std::optional<int32_t> NewZeroOffset(uint32_t currentOffset, uint32_t stValue, int32_t singleTurnCounts) {
    if (singleTurnCounts < 1) return std::nullopt;
    const int64_t sum = int64_t{currentOffset} + int64_t{stValue} - 2;
    // One remainder instead of stepping a revolution at a time: the same result for any offset,
    // however many revolutions away it is.
    int64_t zero = sum % singleTurnCounts;
    if (zero < 0) zero += singleTurnCounts;
    return static_cast<int32_t>(zero);
}

QString ReadingFaultsText(bool timeout, bool errorBit, bool crc, int32_t errComm) {
    QString text;
    if (timeout) text += QStringLiteral("Timeout, ");
    if (errorBit) text += QStringLiteral("Error bit, ");
    if (crc) text += QStringLiteral("CRC, ");
    if (errComm != 0) text += QStringLiteral("Comm, ");
    return text;
}

QString ReadingProblemsText(bool read, bool timeout, bool errorBit, bool crc, int32_t errComm,
                            const QString& reason) {
    QString text = ReadingFaultsText(timeout, errorBit, crc, errComm);
    if (!read && errComm == 0) text += reason.isEmpty() ? QStringLiteral("Reading failed") : reason;
    return text;
}

QString FirstLine(const QString& text) {
    qsizetype end = 0;
    while (end < text.size() && text[end] != QLatin1Char('\r') && text[end] != QLatin1Char('\n'))
        ++end;
    return text.left(end);
}

} // namespace Configuration
