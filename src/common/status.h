// The outcome of an operation, as one type throughout the core: a code that
// callers decide on, the particular reason, and the values the message is
// made of. Texts for people are composed only where they are shown
// (app/messages.h); here there are only codes and values.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace zqd {

struct Status {
    // What callers decide on.
    enum class Code {
        kOk,
        kCardRefused,      // Initial or StartIntr returned 0; `value` is GetLastADError's code
        kNoLibrary,        // the card library or one of its exports is missing
        kNoBuffers,        // the settings give no buffers that can be made
        kReadFailed,       // a read failed (ADResult, a file)
        kSettingsChanged,  // a block does not fit the record that is being gathered
        kFileRefused,      // a file or folder could not be used as asked
        kWriteFailed,      // a file could not be written
        kQueryRefused,     // the inputs leave their widths or the data
        kBusy,             // refused while something else is under way
        kLostBlocks,       // `value` blocks were lost on the way to a sink whose queue was full
    };

    // The particular reason, which the message is made of. `detail` names
    // what it is about (a path, a name, a code), `value` to `value3` are
    // numbers, `other` a second name, `text` words shown as they stand (the
    // system's or a library's message, or what the user gave), `cause`
    // what it came from.
    enum class Why : std::uint16_t {
        kNone,
        kSystem,  // `text` alone: the system's or a library's words

        // Files as the system sees them.
        kMissing, kIsFolder, kUnreachable, kNotAFile,
        kNotRegular,          // `value`: the platform::FileKind
        kReadOnly, kWroteNothing, kNotOpen, kCannotMap,
        kNameTaken,           // something is at that name already
        kCutBackFailed,       // `cause`: the append's failure
        kLockNotRegular,
        kLockHeld,            // another writer kept the lock `value` seconds
        kLockFileUnusable,    // the acquisition's lock file `detail`
        kHeldBy,              // the acquisition lock: process `value`, program `detail`
        kHeldByText,          // the acquisition lock: held by `detail`
        kOtherProcess, kOtherProgram,

        // Writing a file safely; `detail` the target.
        kTargetIsFolder, kTargetUnreachable, kTargetNotRegular, kCannotResolveLink,
        kTargetFolderMissing,
        kNamedMseedIsNot,      // `detail`: a file named .mseed that holds no miniSEED record at its start  // `detail`: the file; `other`: its folder, which does not exist
        kNoWritePermission, kTargetBusy,
        kCannotLock,          // `other`: the lock file
        kCannotCreateTemp, kWriteError, kReadOriginalFailed, kReadOriginalError,
        kSyncFailed, kCloseFailed, kPermissionsFailed, kReplaceFailed,
        kFolderBusy, kFolderLockFailed, kFolderSyncFailed,  // `detail`: the folder
        kCannotCreateIn,      // no new file in the folder `detail`
        kTooManyNames,        // the folder `detail` has too many files of that name

        // The card library: `detail` the library, `other` the export.
        kLibraryMissing,      // `text`: each candidate and why it did not load
        kExportMissing,

        // The record file and its sizes.
        kRecordRefused,       // `detail` the file
        kNegativeSizes,       // ChnNum `value`, ChnPoints `value2`
        kBlockTooLarge,       // ChnNum x ChnPoints = `value`
        kNegativeBlocks,      // BlockNum `value`
        kRecordTooLarge,      // N x BlockNum = `value`
        kFileSizeUnknown,
        kHeaderShort,         // `value` bytes
        kHeaderReadFailed,
        kHeaderBlocksNegative, kHeaderPointsNegative,  // `value`
        kRecordShort,         // `value` samples need `value2` bytes, the file has `value3`
        kNotAddressable,      // `value` samples, `value2` pointer bits, `value3` bytes allowed
        kOutOfMemory, kTooManySamples,  // `value` samples
        kSamplesReadFailed,
        kEmptyRecord, kNoTime, kNoTimeAssume,
        kNoMemoryForBuffers,  // `value` samples

        // Settings; `detail` the file (or who gave them), `line` its line,
        // `text` the key, code or offset at fault.
        kConfigMissing, kConfigNotRegular, kConfigSyntax, kConfigUnknownTable, kConfigNotTable,
        kConfigUnknownKey,    // `other`: the table
        kConfigNotText, kConfigNotInteger,
        kConfigOutOfRange,    // `value` from `value2` to `value3`
        kConfigNumberOutOfRange,  // `other`: "given|lowest|highest"
        kConfigEncoding, kConfigBadOffset,
        kConfigChoice,        // `other`: what it may be
        kConfigNotNumber,
        kConfigOffsetBeyond,  // `value`: the card's channels
        kConfigBadChannel,
        kConfigCodeReused,    // `value`: the line that used it
        kConfigCodeDefault,
        kConfigSensorNeedsSensitivity,
        kConfigSensorForm,     // `text`: the sensor's name; neither poles and zeros with a gain, nor a geophone's three
        kConfigBadRoots,       // `text`: the setting (poles, zeros, normalization_frequency)
        kConfigBadName,        // `text`: a sensor's name
        kConfigNoSuchChannel,  // `text`: a [channels.CODE] table for a code no channel has
        kConfigNoSuchSensor,   // `text`: the sensor named
        kConfigZeroCode,       // `value`: zero_code, `value2`: the highest code of `bits`
        kCodeIsHealthChannel,  // `text`: a data channel's code is a clock or GPS channel's
        kNoCoordinates,        // neither the configuration nor the archive says where the station is
        kBadFilter,            // `detail`: the filter; `text`: the Nyquist frequency in Hz
        kFilterUnreadable,     // `detail`: the text
        kHzRangeUnreadable,    // `detail`: the text
        kDbRangeUnreadable,    // `detail`: the text
        kBadColour,            // `detail`: the colour's text
        kFilteredSpanTooLong,  // `value` samples in the span, `value2` the most
        kBadSpectrogram,       // `value` the frame length asked for, `value2` the samples there are
        kBadNetwork, kBadStation, kBadLocation, kBadChannelCode, kChannelCodeTwice,
        kBadChnNum,           // `value`
        kBadCardSettings,
        kBadRecordLength,     // `value`
        kBadFlush, kNoChannels,
        kNoResampling,        // this build has no resampler
        kRingOpenFailed, kRingWriteFailed,  // `detail` the ring's file, `text` the system's reason
        kListenFailed,                      // `detail` the address, `text` the system's reason
        kBadListen,           // `detail` what was given for [ADDRESS:]PORT
        kBadAddressList,      // `detail` an allow or deny entry that is no address or network
        kNoNetworkCode,       // this build has no network code
        kLiveNeeds512,        // `value` the archive's record length
        kRingBehind,          // `value` records never reached the ring of live data (its queue was full)
        kRingNoRoom,          // the ring `detail` needs `value` MB on its disk, which has not so much free
        kOffsetBeyondCard,    // offset `value`, channels `value2`
        kConfigWriteFailed,   // `detail` the file

        // What the user typed.
        kBadChannelList,      // `detail` the list, `text` the part
        kChannelBeyond,       // `detail` the part, `value` the highest
        kChannelRangeBackwards,  // `detail` the part
        kUnknownFormat,       // `detail`
        kNoSuchChannel,       // `detail`

        // Archives, conversion, viewing; `detail` the file or folder.
        kDayFileOpenFailed, kDayFileWriteFailed, kDayFileSyncFailed, kDayFileRemoveFailed,
        kOutputFailed, kConvertRefused, kViewRefused,
        kMseedNotRecord,      // convert was given a miniSEED file
        kNoDayFilesInSpan, kNoDayFiles, kNoMseedFiles, kNoMseedRecords,
        kPassedUnreadable, kPassedUndecodable,
        kPassedBadTime,       // `value` lone records whose time fit neither neighbour
        kPassedTail,          // `value` bytes at the end that are no whole record
        kPassedNoRecords,
        kPassedOverlap,       // `other`: the stream
        kCarriedBlocks,       // a note: some blocks carry no GPS time of their own
        kPictureEncodeFailed, kPictureWriteFailed,
        kPictureFormat,       // `detail`: a picture's name that asks for no format we write
        kNoWholeSegment,      // `detail`: the channel; `value`: the segment's seconds no stretch of its data holds

        // The main window's query; `detail`, `other`: the texts at fault.
        kQueryStartRange, kQueryEndRange,  // `detail` the time as typed
        kQueryTimesStale,     // `value`: BlockNum
        kQueryChnNum,         // `value`
        kQueryChnPoints,      // `value`
        kQueryPointsWide,     // `value`: points
        kQueryChannelRange,   // `detail`: the channel
        kQueryShiftWide,      // `value`: the start block's NS
        kQueryReadWide,
        kQueryBeyondRecord,   // `detail` the channel, `value` to `value2`, record 0 to `value3`
        kQueryOutOfMemory, kQueryTooLarge,

        // The monitor's digital output; `detail` the text at fault.
        kOutputGroupRange, kOutputGroupNegative, kOutputValueWide,

        // The main window.
        kRecording,           // 打开文件 while a record is being gathered
        kSameAsRecord,        // the export `detail` is the record file `other`
        kExportFailed,        // the export `detail` could not be written

        // The archive window.
        kNoArchiveFolder,
        kArchiveFolderUnusable,  // `detail` the folder, `text` why
    };

    Code code = Code::kOk;
    Why why = Why::kNone;
    std::int64_t value = 0;
    std::int64_t value2 = 0;
    std::int64_t value3 = 0;
    std::string detail;
    std::int64_t line = 0;  // the line of `detail` it is about (a file's); 0: the whole
    std::string other;
    std::string text;
    std::shared_ptr<const Status> cause;

    static Status Ok() { return {}; }
    static Status Fail(Code code, Why why = Why::kNone) {
        Status s;
        s.code = code;
        s.why = why;
        return s;
    }
    bool ok() const { return code == Code::kOk; }

    // Builders, for one expression at the point of failure.
    Status&& About(std::string what) && {
        detail = std::move(what);
        return std::move(*this);
    }
    Status&& And(std::string second) && {
        other = std::move(second);
        return std::move(*this);
    }
    Status&& At(std::int64_t at_line) && {
        line = at_line;
        return std::move(*this);
    }
    Status&& Said(std::string words) && {
        text = std::move(words);
        return std::move(*this);
    }
    Status&& Value(std::int64_t v) && {
        value = v;
        return std::move(*this);
    }
    Status&& Values(std::int64_t v, std::int64_t v2) && {
        value = v;
        value2 = v2;
        return std::move(*this);
    }
    Status&& Values(std::int64_t v, std::int64_t v2, std::int64_t v3) && {
        value = v;
        value2 = v2;
        value3 = v3;
        return std::move(*this);
    }
    Status&& Because(Status why_it_failed) && {
        cause = std::make_shared<const Status>(std::move(why_it_failed));
        return std::move(*this);
    }
};

}  // namespace zqd
