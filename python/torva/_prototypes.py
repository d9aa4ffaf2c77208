"""The one table of the driver library's C prototypes, and the sizes of the buffers it fills.

Every ``fm...`` function of ``libTorvaUSBDevice`` is declared here with its result and argument
types, exactly as the public header declares it; the loader applies the table to the library
before any call, so ctypes converts and checks every argument instead of guessing. A test parses
the header and compares it with this table, so the two cannot drift apart.

Pointer arguments are declared as typed pointers (never ``c_char_p``), and ``char*`` as a pointer
type that also refuses Python ``bytes`` and ``str`` objects (plain ctypes would pass a ``bytes``
object's own memory, which the library must never write, nor read beyond its end). The buffers the package hands to those arguments are sized
from ``OUT_ELEMENTS`` below and never from a value that came from the caller.
"""

import ctypes



class CharPointer(ctypes._Pointer):
    """``char*``: a pointer to c_char that takes ctypes character arrays, pointers and None,
    and refuses Python bytes, bytearray, str and memoryview objects."""

    _type_ = ctypes.c_char

    @classmethod
    def from_param(cls, value):
        if isinstance(value, (bytes, bytearray, str, memoryview)):
            raise TypeError("a char* argument takes a ctypes character buffer, not "
                            f"{type(value).__name__}")
        return _PLAIN_CHAR_POINTER.from_param(value)


_PLAIN_CHAR_POINTER = ctypes.POINTER(ctypes.c_char)

INT = ctypes.c_int
FLOAT = ctypes.c_float
CHAR_P = CharPointer
INT_P = ctypes.POINTER(ctypes.c_int)
FLOAT_P = ctypes.POINTER(ctypes.c_float)
VOID_P = ctypes.c_void_p
FLOAT_PP = ctypes.POINTER(ctypes.POINTER(ctypes.c_float))
INT_PP = ctypes.POINTER(ctypes.POINTER(ctypes.c_int))
SHORT_PP = ctypes.POINTER(ctypes.POINTER(ctypes.c_short))
# TorvaWindowHandle: an opaque pointer to a window-style message target.
WINDOW = ctypes.c_void_p

# name: (result type, (argument types...)); None as the result type is void.
PROTOTYPES = {
    "fmApplyLimited": (None, ()),
    "fmBootLoad": (None, (CHAR_P, INT)),
    "fmBroadcastAcquisitionRate": (None, (INT,)),
    "fmBroadcastCheckVantor": (INT, (INT_P,)),
    "fmBroadcastClearTare": (None, ()),
    "fmBroadcastGenlock": (None, (INT,)),
    "fmBroadcastPlatformOrderingThreshold": (None, (FLOAT,)),
    "fmBroadcastResetSoftware": (None, ()),
    "fmBroadcastResetUSB": (INT, ()),
    "fmBroadcastRunMode": (None, (INT,)),
    "fmBroadcastSave": (None, ()),
    "fmBroadcastStart": (None, ()),
    "fmBroadcastStop": (None, ()),
    "fmBroadcastTare": (None, ()),
    "fmBroadcastZero": (None, ()),
    "fmDLLCancelPlatformOrdering": (None, ()),
    "fmDLLConfurmDeviceCount": (INT, ()),
    "fmDLLGetAcquisitionRate": (INT, ()),
    "fmDLLGetDeviceCount": (INT, ()),
    "fmDLLGetDeviceIndex": (INT, ()),
    "fmDLLGetDroppedDataCount": (INT, ()),
    "fmDLLGetError": (INT, (CHAR_P,)),
    "fmDLLGetGenlock": (INT, ()),
    "fmDLLGetPlatformOrder": (INT, (INT_P,)),
    "fmDLLGetRunMode": (INT, ()),
    "fmDLLGetSavedFailureCountPerDevice": (INT, (INT,)),
    "fmDLLGetStopCommandFlag": (INT, ()),
    "fmDLLGetTheFloatDataLBVStyle": (INT, (VOID_P, INT)),
    "fmDLLGetTheLongDataLBVStyle": (INT, (VOID_P, INT)),
    "fmDLLGetTheShortDataLBVStyle": (INT, (VOID_P, INT)),
    "fmDLLGetVersionID": (INT, ()),
    "fmDLLInit": (INT, ()),
    "fmDLLIsDeviceInitComplete": (INT, ()),
    "fmDLLIsPlatformOrderingComplete": (INT, ()),
    "fmDLLPostDataReadyMessages": (None, (INT,)),
    "fmDLLPostUserThreadMessages": (None, (INT,)),
    "fmDLLPostWindowMessages": (None, (WINDOW,)),
    "fmDLLSaveConfiguration": (INT, ()),
    "fmDLLSelectDeviceIndex": (None, (INT,)),
    "fmDLLSetDataFormat": (None, (INT,)),
    "fmDLLSetPlatformOrder": (None, (INT_P,)),
    "fmDLLSetUSBPacketSize": (None, (INT,)),
    "fmDLLSetupCheck": (INT, ()),
    "fmDLLShutDown": (INT, ()),
    "fmDLLStartPlatformOrdering": (None, ()),
    "fmDLLTransferFloatData": (INT, (FLOAT_PP,)),
    "fmDLLTransferLongData": (INT, (INT_PP,)),
    "fmDLLTransferShortData": (INT, (SHORT_PP,)),
    "fmDebugEntry": (INT, ()),
    "fmGetADRef": (FLOAT, ()),
    "fmGetAcquisitionRate": (INT, ()),
    "fmGetAmpliferMemoryStatus": (INT, ()),
    "fmGetAmplifierDate": (None, (CHAR_P,)),
    "fmGetAmplifierFirmwareVersion": (None, (CHAR_P,)),
    "fmGetAmplifierModelNumber": (None, (CHAR_P,)),
    "fmGetAmplifierSerialNumber": (None, (CHAR_P,)),
    "fmGetAnalogMaxAndMin": (INT, (FLOAT_P,)),
    "fmGetAutozeroPots": (INT, (INT_P,)),
    "fmGetCableLength": (FLOAT, ()),
    "fmGetChannelOffsetsTable": (None, (FLOAT_P,)),
    "fmGetCurrentExcitations": (None, (INT_P,)),
    "fmGetCurrentGains": (None, (INT_P,)),
    "fmGetDACGainsTable": (None, (FLOAT_P,)),
    "fmGetDACOffsetTable": (None, (FLOAT_P,)),
    "fmGetDACSensitivities": (None, (FLOAT_P,)),
    "fmGetExcCorrections": (INT, (INT_P,)),
    "fmGetExcitationStatus": (INT, ()),
    "fmGetExcitationTable": (None, (FLOAT_P,)),
    "fmGetGainTable": (None, (FLOAT_P,)),
    "fmGetInvertedSensitivityMatrix": (None, (FLOAT_P,)),
    "fmGetMatrixMode": (INT, ()),
    "fmGetMechanicalMaxAndMin": (INT, (FLOAT_P,)),
    "fmGetPlatformBridgeResistance": (None, (FLOAT_P,)),
    "fmGetPlatformCapacity": (None, (FLOAT_P,)),
    "fmGetPlatformDate": (None, (CHAR_P,)),
    "fmGetPlatformLengthAndWidth": (None, (CHAR_P, CHAR_P)),
    "fmGetPlatformModelNumber": (None, (CHAR_P,)),
    "fmGetPlatformRotation": (FLOAT, ()),
    "fmGetPlatformSerialNumber": (None, (CHAR_P,)),
    "fmGetPlatformXYZOffsets": (None, (FLOAT_P,)),
    "fmGetProductType": (INT, ()),
    "fmGetRunMode": (INT, ()),
    "fmGetTare": (INT, (INT_P,)),
    "fmIsDLLRefreshComplete": (INT, ()),
    "fmIsDLLShutDown": (INT, ()),
    "fmIsVantorDownloadComplete": (INT, ()),
    "fmPrepareForBootLoad": (None, ()),
    "fmProgramExcitation": (None, ()),
    "fmRefreshDLL": (None, ()),
    "fmResetHardware": (None, ()),
    "fmResetSoftware": (None, ()),
    "fmRetrieveAllParams": (None, ()),
    "fmSave": (None, ()),
    "fmSetADRef": (None, (FLOAT,)),
    "fmSetAmplifierDate": (None, (CHAR_P,)),
    "fmSetBlink": (None, ()),
    "fmSetCableLength": (None, (FLOAT,)),
    "fmSetChannelOffsetsTable": (None, (FLOAT_P,)),
    "fmSetCopyFactParam": (None, ()),
    "fmSetCurrentExcitations": (None, (INT_P,)),
    "fmSetCurrentGains": (None, (INT_P,)),
    "fmSetDACGainsTable": (None, (FLOAT_P,)),
    "fmSetDACOffsetTable": (None, (FLOAT_P,)),
    "fmSetDACSensitivityTable": (None, (FLOAT_P,)),
    "fmSetDacValuesOff": (None, ()),
    "fmSetDacValues": (None, (INT,)),
    "fmSetExcCorrections": (INT, (INT_P,)),
    "fmSetExcitationTable": (None, (FLOAT_P,)),
    "fmSetGainTable": (None, (FLOAT_P,)),
    "fmSetInvertedSensitivityMatrix": (None, (FLOAT_P,)),
    "fmSetMatrixMode": (None, (INT,)),
    "fmSetPlatformBridgeResistance": (None, (FLOAT_P,)),
    "fmSetPlatformCapacity": (None, (FLOAT_P,)),
    "fmSetPlatformDate": (None, (CHAR_P,)),
    "fmSetPlatformLengthAndWidth": (None, (CHAR_P, CHAR_P)),
    "fmSetPlatformModelNumber": (None, (CHAR_P,)),
    "fmSetPlatformRotation": (None, (FLOAT,)),
    "fmSetPlatformSerialNumber": (None, (CHAR_P,)),
    "fmSetPlatformXYZOffsets": (None, (FLOAT_P,)),
    "fmSetProductType": (None, (INT,)),
    "fmSetRunMode": (None, (INT,)),
    "fmUpdateAnalogMaxAndMin": (None, ()),
    "fmUpdateAutozeroPots": (None, ()),
    "fmUpdateMechanicalMaxAndMin": (None, ()),
    "fmUpdateTare": (None, ()),
    "fmVantorDownloadCalFile": (INT, (INT,)),
    "fmVantorGetStatus": (INT, ()),
}

# Values of the header's enumeration.
VERSION_ID = 30568
ERROR_TEXT_BYTES = 260

# The most amplifiers one library serves (positions and slots 0..24).
MAX_AMPLIFIERS = 25
# Completed frames the library keeps for the caller before it drops the oldest not yet taken.
RING_FRAMES = 625
# The only streaming packet size the library accepts, and the sample rows it gives each frame.
PACKET_BYTES = 512
SAMPLES_PER_FRAME = 16
# Data format 1: per sample row and position a record of the counter, the six channels Fx, Fy,
# Fz, Mx, My, Mz and the auxiliary word.
FORMAT_RECORDS = 1
RECORD_VALUES = 8
RECORD_COUNTER = 0
RECORD_CHANNELS = 1
RECORD_AUXILIARY = 7
CHANNELS = 6
# The amplifiers' sample counters count modulo 2**24 (exact as the frame's 32-bit floats).
COUNTER_MODULUS = 1 << 24
# Acquisition rates the library accepts, in samples per second.
RATE_RANGE = (10, 3000)
# Selections fmSetCurrentGains and fmSetCurrentExcitations keep (anything else is clamped).
GAIN_RANGE = (0, 3)
EXCITATION_RANGE = (0, 2)

# Text fields are at most 28 bytes (the platform model) and not NUL-terminated when full: every
# text buffer gets this many zeroed bytes, so a full field still ends in a NUL.
TEXT_BYTES = 64

# Elements written through each output argument: (function, argument index) -> count.
OUT_ELEMENTS = {
    ("fmDLLGetError", 0): ERROR_TEXT_BYTES,
    ("fmDLLGetPlatformOrder", 0): MAX_AMPLIFIERS,
    ("fmBroadcastCheckVantor", 0): MAX_AMPLIFIERS,
    ("fmGetAmplifierDate", 0): TEXT_BYTES,
    ("fmGetAmplifierFirmwareVersion", 0): TEXT_BYTES,
    ("fmGetAmplifierModelNumber", 0): TEXT_BYTES,
    ("fmGetAmplifierSerialNumber", 0): TEXT_BYTES,
    ("fmGetPlatformDate", 0): TEXT_BYTES,
    ("fmGetPlatformModelNumber", 0): TEXT_BYTES,
    ("fmGetPlatformSerialNumber", 0): TEXT_BYTES,
    ("fmGetPlatformLengthAndWidth", 0): TEXT_BYTES,
    ("fmGetPlatformLengthAndWidth", 1): TEXT_BYTES,
    ("fmGetPlatformXYZOffsets", 0): 3,
    ("fmGetPlatformCapacity", 0): 6,
    ("fmGetPlatformBridgeResistance", 0): 6,
    ("fmGetChannelOffsetsTable", 0): 6,
    ("fmGetCurrentGains", 0): 6,
    ("fmGetCurrentExcitations", 0): 6,
    ("fmGetGainTable", 0): 24,
    ("fmGetExcitationTable", 0): 18,
    ("fmGetInvertedSensitivityMatrix", 0): 36,
    ("fmGetDACGainsTable", 0): 6,
    ("fmGetDACOffsetTable", 0): 6,
    ("fmGetDACSensitivities", 0): 6,
    ("fmGetTare", 0): 6,
}

# Elements read through each input array argument the package passes.
IN_ELEMENTS = {
    ("fmSetCurrentGains", 0): 6,
    ("fmSetCurrentExcitations", 0): 6,
}


def out_buffer(function, index=0):
    """A zeroed ctypes array sized for what ``function`` writes through argument ``index``."""
    element = PROTOTYPES[function][1][index]._type_
    return (element * OUT_ELEMENTS[(function, index)])()
