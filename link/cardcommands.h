#pragma once

#include <cstdint>

// The card's command codes as they go on the wire, named once for the link and the windows.
enum CardCommand : uint8_t {
    SampleDemarcated = 0x00,
    SampleSource = 0x01,
    SampleTimeStamped = 0x02,
    WriteBaseline = 0x80,
    ReadBaseline = 0x81,
    SetDataType = 0x82,
    SetSampleFrequency = 0x83,
    ReadSampleFrequency = 0x84,
    RemoveDemarcationPoints = 0x86,
    RemoveAllDemarcationPoints = 0x87,
    ReadDemarcationPoints = 0x88,
    WriteSinglePoint = 0x89,
    RemoveSinglePoints = 0x8A,
    RemoveAllSinglePoints = 0x8B,
    ReadSinglePoints = 0x8C,
    SyncTimeStamp = 0x8D,
};
