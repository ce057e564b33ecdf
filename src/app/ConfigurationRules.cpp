#include "ConfigurationRules.h"

#include <limits>

namespace Configuration {

int32_t EditValue(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    return ok ? int32_t(value) : 0;
}

uint16_t MultiturnPresetValue(int32_t value) {
    return static_cast<uint16_t>(static_cast<uint32_t>(value) & 0xFFFFu);
}

std::optional<int32_t> NewZeroOffset(int32_t currentOffset, uint32_t stValue, int32_t singleTurnCounts) {
    const int64_t sum = int64_t{currentOffset} + int64_t{stValue} - 2;
    if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max() ||
        singleTurnCounts < 1)
        return std::nullopt;
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

QString RangeCheckMessage(const QString& what, int64_t value) {
    return QStringLiteral("Range check error: ") + what + QStringLiteral(" ") + QString::number(value) +
           QStringLiteral(" is out of range.");
}

} // namespace Configuration
