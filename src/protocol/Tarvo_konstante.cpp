#include "Tarvo_konstante.h"

namespace Tarvo_konstante {

namespace {

struct Layout {
    uint32_t positionOffset, positionFilter, multiturnPreset, mtErrThreshold, persistentStatus, signalLevel,
        sensorTemperature, command, selfCalStatus, selfCalArc, selfCalTimeout, eccentricity,
        eccentricityPhase, radialShift, fwVerMajor, fwVerMinor, fwVerComm, fwVerSvn, fwVerHash, serialNumber,
        errorMap;
    uint8_t lenPersistentStatus, lenSignalLevel, lenSelfCalStatus, lenFwVersion, lenFwVerSvn, lenFwVerHash;
    int32_t serialNumberWords;
};

constexpr Layout kLegacy{0x00, 0x04, 0x14, 0x18, 0x2C, 0x4E, 0x4C,   0x49, 0x52, 0x19, 0x21, 0x1B, 0x1D, 0x1F,
                         0x2F, 0x31, 0x33, 0x35, 0x00, 0x5C, 0x1800, 2,    2,    1,    0,    0,    0,    2};

constexpr Layout kNew{0x80, 0x84, 0x94, 0x98, 0x0A, 0x02, 0x00,    0xBD, 0xC0, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC,
                      0x68, 0x6A, 0x6C, 0x6E, 0x72, 0x40, 0x10000, 4,    4,    4,    2,    4,    4,    4};

} // namespace

uint32_t RegPositionOffset = kLegacy.positionOffset;
uint32_t RegPositionFilter = kLegacy.positionFilter;
uint32_t RegMultiturnPreset = kLegacy.multiturnPreset;
uint32_t RegMtErrThreshold = kLegacy.mtErrThreshold;
uint32_t RegPersistentStatus = kLegacy.persistentStatus;
uint32_t RegSignalLevel = kLegacy.signalLevel;
uint32_t RegSensorTemperature = kLegacy.sensorTemperature;
uint32_t RegCommand = kLegacy.command;
uint32_t RegSelfCalStatus = kLegacy.selfCalStatus;
uint32_t RegSelfCalArc = kLegacy.selfCalArc;
uint32_t RegSelfCalTimeout = kLegacy.selfCalTimeout;
uint32_t RegEccentricity = kLegacy.eccentricity;
uint32_t RegEccentricityPhase = kLegacy.eccentricityPhase;
uint32_t RegRadialShift = kLegacy.radialShift;
uint32_t RegFwVerMajor = kLegacy.fwVerMajor;
uint32_t RegFwVerMinor = kLegacy.fwVerMinor;
uint32_t RegFwVerComm = kLegacy.fwVerComm;
uint32_t RegFwVerSvn = kLegacy.fwVerSvn;
uint32_t RegFwVerHash = kLegacy.fwVerHash;
uint32_t RegSerialNumber = kLegacy.serialNumber;
uint32_t RegErrorMap = kLegacy.errorMap;

uint8_t LenPersistentStatus = kLegacy.lenPersistentStatus;
uint8_t LenSignalLevel = kLegacy.lenSignalLevel;
uint8_t LenSelfCalStatus = kLegacy.lenSelfCalStatus;
uint8_t LenFwVersion = kLegacy.lenFwVersion;
uint8_t LenFwVerSvn = kLegacy.lenFwVerSvn;
uint8_t LenFwVerHash = kLegacy.lenFwVerHash;
int32_t SerialNumberWords = kLegacy.serialNumberWords;

bool HasMtErrThreshold = false;
bool HasPersistentStatus = false;
bool HasSignalLevel = false;
bool HasSelfCalTimeout = false;
bool HasFirmwareRevision = false;

namespace {

void Apply(const Layout& l) {
    RegPositionOffset = l.positionOffset;
    RegPositionFilter = l.positionFilter;
    RegMultiturnPreset = l.multiturnPreset;
    RegMtErrThreshold = l.mtErrThreshold;
    RegPersistentStatus = l.persistentStatus;
    RegSignalLevel = l.signalLevel;
    RegSensorTemperature = l.sensorTemperature;
    RegCommand = l.command;
    RegSelfCalStatus = l.selfCalStatus;
    RegSelfCalArc = l.selfCalArc;
    RegSelfCalTimeout = l.selfCalTimeout;
    RegEccentricity = l.eccentricity;
    RegEccentricityPhase = l.eccentricityPhase;
    RegRadialShift = l.radialShift;
    RegFwVerMajor = l.fwVerMajor;
    RegFwVerMinor = l.fwVerMinor;
    RegFwVerComm = l.fwVerComm;
    RegFwVerSvn = l.fwVerSvn;
    RegFwVerHash = l.fwVerHash;
    RegSerialNumber = l.serialNumber;
    RegErrorMap = l.errorMap;
    LenPersistentStatus = l.lenPersistentStatus;
    LenSignalLevel = l.lenSignalLevel;
    LenSelfCalStatus = l.lenSelfCalStatus;
    LenFwVersion = l.lenFwVersion;
    LenFwVerSvn = l.lenFwVerSvn;
    LenFwVerHash = l.lenFwVerHash;
    SerialNumberWords = l.serialNumberWords;
}

} // namespace

void SelectLegacyLayout() {
    Apply(kLegacy);
}

void SelectNewLayout() {
    Apply(kNew);
}

void ResetTarvoKonstanteState() {
    Apply(kLegacy);
    HasMtErrThreshold = false;
    HasPersistentStatus = false;
    HasSignalLevel = false;
    HasSelfCalTimeout = false;
    HasFirmwareRevision = false;
}

} // namespace Tarvo_konstante
