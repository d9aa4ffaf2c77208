/*
 * TorvaUSBDevice: the driver library's export interface.
 *
 * Every function has C linkage and a plain 32-bit int/float interface. Calls that act on one
 * amplifier act on the one selected with fmDLLSelectDeviceIndex. Out-of-range arguments and null
 * pointers make a call do nothing (and return 0 where it returns something); calls made before
 * fmDLLInit do nothing and return 0, except fmDLLGetVersionID, fmDLLPostDataReadyMessages,
 * fmDLLPostUserThreadMessages, fmDLLPostWindowMessages, fmIsDLLShutDown,
 * fmDLLConfurmDeviceCount and fmDebugEntry. The functions are meant to be called from one thread.
 *
 * Data-ready notification: thread message TORVA_MSG_DATA_READY_THREAD (wParam = frame-ring index)
 * to a thread registered with fmDLLPostUserThreadMessages, or window message
 * TORVA_MSG_DATA_READY_WINDOW to a window-style target registered with fmDLLPostWindowMessages.
 */
#ifndef TORVA_USB_DEVICE_H
#define TORVA_USB_DEVICE_H

#if defined(TORVA_BUILDING_DRIVER)
#define TORVA_API __attribute__((visibility("default")))
#else
#define TORVA_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A window-style message target created with the platform library. */
typedef void* TorvaWindowHandle;

enum {
  TORVA_VERSION_ID = 30568,
  TORVA_MSG_DATA_READY_WINDOW = 1132,
  TORVA_MSG_DATA_READY_THREAD = 1133,
  TORVA_ERROR_TEXT_BYTES = 260
};

/* command 187 to the selected amplifier */
TORVA_API void fmApplyLimited(void);
/* sends the firmware image to the selected amplifier in 64-byte pieces, command 198 each, 300 ms apart */
TORVA_API void fmBootLoad(char* image, int bytes);
/* 10..3000: rate of every amplifier and of the settings record, command 228 */
TORVA_API void fmBroadcastAcquisitionRate(int rate);
/* copies the slot numbers listed by the smart-plate check; returns how many */
TORVA_API int fmBroadcastCheckVantor(int* slots);
/* command 182 to every amplifier */
TORVA_API void fmBroadcastClearTare(void);
/* 0..2: every amplifier and the settings record, command 183 */
TORVA_API void fmBroadcastGenlock(int genlock);
/* ordering threshold of every amplifier */
TORVA_API void fmBroadcastPlatformOrderingThreshold(float threshold);
/* command 177 to every amplifier */
TORVA_API void fmBroadcastResetSoftware(void);
/* resets the USB link of every amplifier; returns N */
TORVA_API int fmBroadcastResetUSB(void);
/* 0..4: every amplifier and the settings record, command 186 */
TORVA_API void fmBroadcastRunMode(int mode);
/* command 188 to every amplifier */
TORVA_API void fmBroadcastSave(void);
/* starts acquisition on all amplifiers */
TORVA_API void fmBroadcastStart(void);
/* stops acquisition on all amplifiers */
TORVA_API void fmBroadcastStop(void);
/* command 181 to every amplifier */
TORVA_API void fmBroadcastTare(void);
/* command 180 to every amplifier */
TORVA_API void fmBroadcastZero(void);
/* abandons an ordering run */
TORVA_API void fmDLLCancelPlatformOrdering(void);
/* counts attached amplifiers on the bus */
TORVA_API int fmDLLConfurmDeviceCount(void);
/* rate of the settings record */
TORVA_API int fmDLLGetAcquisitionRate(void);
/* N */
TORVA_API int fmDLLGetDeviceCount(void);
/* position of the selected amplifier */
TORVA_API int fmDLLGetDeviceIndex(void);
/* sum of the dropped-sample counts */
TORVA_API int fmDLLGetDroppedDataCount(void);
/* error record */
TORVA_API int fmDLLGetError(char* text);
/* genlock of the settings record */
TORVA_API int fmDLLGetGenlock(void);
/* copies the order, returns N */
TORVA_API int fmDLLGetPlatformOrder(int* order);
/* run mode of the settings record */
TORVA_API int fmDLLGetRunMode(void);
/* dropped-sample count of one slot */
TORVA_API int fmDLLGetSavedFailureCountPerDevice(int slot);
/* 1 if every amplifier acknowledged stop */
TORVA_API int fmDLLGetStopCommandFlag(void);
/* copies the next frame as floats */
TORVA_API int fmDLLGetTheFloatDataLBVStyle(void* dest, int bytes);
/* copies the next frame as 32-bit integers */
TORVA_API int fmDLLGetTheLongDataLBVStyle(void* dest, int bytes);
/* copies the next frame as 16-bit integers */
TORVA_API int fmDLLGetTheShortDataLBVStyle(void* dest, int bytes);
/* 30568 */
TORVA_API int fmDLLGetVersionID(void);
/* creates the control thread and the device threads; 1 */
TORVA_API int fmDLLInit(void);
/* device-init state 0/1/2 */
TORVA_API int fmDLLIsDeviceInitComplete(void);
/* 1 after an ordering run completed */
TORVA_API int fmDLLIsPlatformOrderingComplete(void);
/* data-ready notification on or off */
TORVA_API void fmDLLPostDataReadyMessages(int flag);
/* notify that thread with message 1133 */
TORVA_API void fmDLLPostUserThreadMessages(int threadIdentifier);
/* notify that window with message 1132 */
TORVA_API void fmDLLPostWindowMessages(TorvaWindowHandle window);
/* writes the configuration file; 1 or 0 */
TORVA_API int fmDLLSaveConfiguration(void);
/* selects order[position] */
TORVA_API void fmDLLSelectDeviceIndex(int position);
/* 0, 1 or 2 */
TORVA_API void fmDLLSetDataFormat(int format);
/* reorders the positions */
TORVA_API void fmDLLSetPlatformOrder(int* positions);
/* 512 only */
TORVA_API void fmDLLSetUSBPacketSize(int size);
/* setup-check status */
TORVA_API int fmDLLSetupCheck(void);
/* shuts the library down; 1 */
TORVA_API int fmDLLShutDown(void);
/* begins an ordering run */
TORVA_API void fmDLLStartPlatformOrdering(void);
/* hands out the next frame as floats */
TORVA_API int fmDLLTransferFloatData(float** frame);
/* hands out the next frame as 32-bit integers */
TORVA_API int fmDLLTransferLongData(int** frame);
/* hands out the next frame as 16-bit integers */
TORVA_API int fmDLLTransferShortData(short** frame);
/* -1 */
TORVA_API int fmDebugEntry(void);
/* A/D reference of the selected amplifier */
TORVA_API float fmGetADRef(void);
/* rate of the selected amplifier */
TORVA_API int fmGetAcquisitionRate(void);
/* memory status word of the selected amplifier */
TORVA_API int fmGetAmpliferMemoryStatus(void);
/* amplifier date */
TORVA_API void fmGetAmplifierDate(char* date);
/* firmware version text */
TORVA_API void fmGetAmplifierFirmwareVersion(char* version);
/* amplifier model number */
TORVA_API void fmGetAmplifierModelNumber(char* model);
/* amplifier serial number */
TORVA_API void fmGetAmplifierSerialNumber(char* serial);
/* analog limits; 1 if the reply to fmUpdateAnalogMaxAndMin arrived */
TORVA_API int fmGetAnalogMaxAndMin(float* values);
/* auto-zero settings; 1 if the reply to fmUpdateAutozeroPots arrived */
TORVA_API int fmGetAutozeroPots(int* values);
/* cable length of the selected amplifier */
TORVA_API float fmGetCableLength(void);
/* channel offsets */
TORVA_API void fmGetChannelOffsetsTable(float* values);
/* excitation selection per channel (0..2) */
TORVA_API void fmGetCurrentExcitations(int* values);
/* gain selection per channel (0..3) */
TORVA_API void fmGetCurrentGains(int* values);
/* DAC gains */
TORVA_API void fmGetDACGainsTable(float* values);
/* DAC offsets */
TORVA_API void fmGetDACOffsetTable(float* values);
/* DAC sensitivities */
TORVA_API void fmGetDACSensitivities(float* values);
/* returns values[0]; nothing else */
TORVA_API int fmGetExcCorrections(int* values);
/* excitation status word of the selected amplifier */
TORVA_API int fmGetExcitationStatus(void);
/* excitation table */
TORVA_API void fmGetExcitationTable(float* values);
/* gain table */
TORVA_API void fmGetGainTable(float* values);
/* 6 x 6 inverted sensitivity matrix */
TORVA_API void fmGetInvertedSensitivityMatrix(float* values);
/* matrix mode of the selected amplifier */
TORVA_API int fmGetMatrixMode(void);
/* mechanical limits; 1 if the reply to fmUpdateMechanicalMaxAndMin arrived */
TORVA_API int fmGetMechanicalMaxAndMin(float* values);
/* bridge resistances */
TORVA_API void fmGetPlatformBridgeResistance(float* values);
/* platform capacities */
TORVA_API void fmGetPlatformCapacity(float* values);
/* platform date */
TORVA_API void fmGetPlatformDate(char* date);
/* platform length and width texts */
TORVA_API void fmGetPlatformLengthAndWidth(char* length, char* width);
/* platform model number */
TORVA_API void fmGetPlatformModelNumber(char* model);
/* platform rotation */
TORVA_API float fmGetPlatformRotation(void);
/* platform serial number */
TORVA_API void fmGetPlatformSerialNumber(char* serial);
/* platform X, Y, Z offsets */
TORVA_API void fmGetPlatformXYZOffsets(float* values);
/* product type of the selected amplifier */
TORVA_API int fmGetProductType(void);
/* run mode of the selected amplifier */
TORVA_API int fmGetRunMode(void);
/* tare values; 1 if the tare reply arrived */
TORVA_API int fmGetTare(int* values);
/* 1 when the refresh has completed */
TORVA_API int fmIsDLLRefreshComplete(void);
/* 1 when the control thread has ended */
TORVA_API int fmIsDLLShutDown(void);
/* download status of the selected amplifier */
TORVA_API int fmIsVantorDownloadComplete(void);
/* command 197 to the selected amplifier */
TORVA_API void fmPrepareForBootLoad(void);
/* command 185 to the selected amplifier */
TORVA_API void fmProgramExcitation(void);
/* parameter refresh of all amplifiers */
TORVA_API void fmRefreshDLL(void);
/* command 176 to the selected amplifier */
TORVA_API void fmResetHardware(void);
/* command 177 to the selected amplifier */
TORVA_API void fmResetSoftware(void);
/* command 208 to the selected amplifier */
TORVA_API void fmRetrieveAllParams(void);
/* command 188 to the selected amplifier */
TORVA_API void fmSave(void);
/* command 232 */
TORVA_API void fmSetADRef(float value);
/* command 211 */
TORVA_API void fmSetAmplifierDate(char* date);
/* command 195 to the selected amplifier */
TORVA_API void fmSetBlink(void);
/* command 233 */
TORVA_API void fmSetCableLength(float value);
/* command 223 */
TORVA_API void fmSetChannelOffsetsTable(float* values);
/* command 196 to the selected amplifier */
TORVA_API void fmSetCopyFactParam(void);
/* each clamped to 0..2; command 230 */
TORVA_API void fmSetCurrentExcitations(int* values);
/* each clamped to 0..3; command 229 */
TORVA_API void fmSetCurrentGains(int* values);
/* command 224 */
TORVA_API void fmSetDACGainsTable(float* values);
/* command 225 */
TORVA_API void fmSetDACOffsetTable(float* values);
/* command 234 */
TORVA_API void fmSetDACSensitivityTable(float* values);
/* command 192 */
TORVA_API void fmSetDacValuesOff(void);
/* command 191 with the value */
TORVA_API void fmSetDacValues(int value);
/* returns values[0]; nothing else */
TORVA_API int fmSetExcCorrections(int* values);
/* command 222 */
TORVA_API void fmSetExcitationTable(float* values);
/* command 221 */
TORVA_API void fmSetGainTable(float* values);
/* command 220 */
TORVA_API void fmSetInvertedSensitivityMatrix(float* values);
/* command 227 */
TORVA_API void fmSetMatrixMode(int mode);
/* command 217 */
TORVA_API void fmSetPlatformBridgeResistance(float* values);
/* command 218 */
TORVA_API void fmSetPlatformCapacity(float* values);
/* command 216 */
TORVA_API void fmSetPlatformDate(char* date);
/* commands 214 and 215 */
TORVA_API void fmSetPlatformLengthAndWidth(char* length, char* width);
/* command 212 */
TORVA_API void fmSetPlatformModelNumber(char* model);
/* command 235 (and 238 for smart plates) */
TORVA_API void fmSetPlatformRotation(float degrees);
/* command 213 */
TORVA_API void fmSetPlatformSerialNumber(char* serial);
/* command 219 */
TORVA_API void fmSetPlatformXYZOffsets(float* values);
/* command 226 */
TORVA_API void fmSetProductType(int type);
/* 0..4, selected amplifier, command 186 */
TORVA_API void fmSetRunMode(int mode);
/* requests the analog limits (command 246) */
TORVA_API void fmUpdateAnalogMaxAndMin(void);
/* requests the auto-zero settings (command 244) */
TORVA_API void fmUpdateAutozeroPots(void);
/* requests the mechanical limits (command 240) */
TORVA_API void fmUpdateMechanicalMaxAndMin(void);
/* requests the tare values (command 245) */
TORVA_API void fmUpdateTare(void);
/* downloads the calibration file to the selected smart plate */
TORVA_API int fmVantorDownloadCalFile(int value);
/* smart-plate status word of the selected amplifier */
TORVA_API int fmVantorGetStatus(void);

#ifdef __cplusplus
}
#endif

#endif /* TORVA_USB_DEVICE_H */
