#include "library/interface_records.h"

#include <cmath>
#include <cstdarg>
#include <cstddef>
#include <cstring>

#include "dsp/processor.h"
#include "options/command_line.h"
#include "options/option_table.h"
#include "wave/result_codes.h"

int reportResult(OrvalixError* error, int32_t code, const char* format, ...) {
    if (error) {
        error->code = code;
        va_list args;
        va_start(args, format);
        vsnprintf(error->message, sizeof error->message, format, args);
        va_end(args);
    }
    return code;
}

namespace {

// The interface's integer settings and the option rows that hold their ranges.
struct SettingRow {
    const char* field;
    size_t offset;
    int row;
};
constexpr SettingRow settingRows[] = {
    {"windowLengthMs", offsetof(OrvalixSettings, windowLengthMs), ROW_WINDOW_LENGTH},
    {"windowShiftMs", offsetof(OrvalixSettings, windowShiftMs), ROW_WINDOW_SHIFT},
    {"melFilterCount", offsetof(OrvalixSettings, melFilterCount), ROW_FILTER_COUNT},
    {"cepstralCount", offsetof(OrvalixSettings, cepstralCount), ROW_CEPSTRAL_COUNT},
    {"includeC0", offsetof(OrvalixSettings, includeC0), ROW_INCLUDE_C0},
    {"removeDcOffset", offsetof(OrvalixSettings, removeDcOffset), ROW_DC_OFFSET},
    {"powerOfTwoBelow", offsetof(OrvalixSettings, powerOfTwoBelow), ROW_POWER_OF_TWO},
    {"windowType", offsetof(OrvalixSettings, windowType), ROW_WINDOW_TYPE},
    {"lifterType", offsetof(OrvalixSettings, lifterType), ROW_LIFTER},
    {"filterDomain", offsetof(OrvalixSettings, filterDomain), ROW_FILTER_DOMAIN},
};

int32_t fieldOf(const OrvalixSettings& settings, const SettingRow& row) {
    return *reinterpret_cast<const int32_t*>(reinterpret_cast<const char*>(&settings) + row.offset);
}

OrvalixSettings interfaceSettingsFrom(const AnalysisSettings& a) {
    OrvalixSettings s{};
    s.size = sizeof s;
    s.windowLengthMs = a.windowLengthMs;
    s.windowShiftMs = a.windowShiftMs;
    s.melFilterCount = a.melFilterCount;
    s.cepstralCount = a.cepstralCount;
    s.includeC0 = a.includeC0;
    s.removeDcOffset = a.removeDcOffset;
    s.powerOfTwoBelow = a.powerOfTwoBelow;
    s.windowType = a.windowType;
    s.lifterType = a.lifterType;
    s.filterDomain = a.filterDomain;
    s.preEmphasis = a.preEmphasis;
    s.threads = 1;
    return s;
}

// The size of the first release's record, before `threads`.
constexpr uint32_t FIRST_SETTINGS_SIZE = offsetof(OrvalixSettings, threads);

// The caller's record as this release's: the fields an older caller's record lacks at their
// defaults.
OrvalixSettings currentRecord(const OrvalixSettings& caller) {
    OrvalixSettings s{};
    s.threads = 1;
    memcpy(&s, &caller, caller.size < sizeof s ? caller.size : sizeof s);
    return s;
}

void optionDefaults(int32_t* values) {
    for (int row = 0; row < OPTION_ROW_COUNT; row++) values[row] = optionDefault(row);
}

}  // namespace

int analysisSettingsFrom(const OrvalixSettings* s, AnalysisSettings* a, OrvalixError* error) {
    const int checked = orvalix_check_settings(s, error);
    if (checked != ORVALIX_OK) return checked;
    int32_t values[OPTION_ROW_COUNT];
    optionDefaults(values);
    for (const SettingRow& row : settingRows) values[row.row] = fieldOf(*s, row);
    settingsFromOptionValues(values, a);
    a->preEmphasis = s->preEmphasis;  // stored as given: H / 100.0 or any float in range
    return ORVALIX_OK;
}

int32_t threadsOf(const OrvalixSettings* settings) {
    return currentRecord(*settings).threads;
}

extern "C" {

const char* orvalix_version(void) { return ORVALIX_VERSION_TEXT; }

const char* orvalix_result_name(int32_t result) {
    switch (result) {
    case ORVALIX_OK: return "ORVALIX_OK";
    case ORVALIX_ANALYSIS_FAILED: return "ORVALIX_ANALYSIS_FAILED";
    case ORVALIX_INVALID_ARGUMENT: return "ORVALIX_INVALID_ARGUMENT";
    case ORVALIX_OUTPUT_FAILED: return "ORVALIX_OUTPUT_FAILED";
    case ORVALIX_NON_FINITE_ROWS: return "ORVALIX_NON_FINITE_ROWS";
    case ORVALIX_STREAM_FINISHED: return "ORVALIX_STREAM_FINISHED";
    case ORVALIX_NEEDS_WHOLE_SIGNAL: return "ORVALIX_NEEDS_WHOLE_SIGNAL";
    case ORVALIX_AUDIO_UNREADABLE: return "ORVALIX_AUDIO_UNREADABLE";
    default: break;
    }
    if (result > RFX_SUCCESS && result <= RFX_INVALID_FILE) return resultCodeName(result);
    return "ORVALIX_UNKNOWN_RESULT";
}

int32_t orvalix_lane_width(void) { return processorLanes(); }

OrvalixSettings orvalix_default_settings(void) {
    int32_t values[OPTION_ROW_COUNT];
    optionDefaults(values);
    AnalysisSettings a;
    settingsFromOptionValues(values, &a);
    return interfaceSettingsFrom(a);
}

int orvalix_check_settings(const OrvalixSettings* s, OrvalixError* error) {
    if (!usableRecord(s, FIRST_SETTINGS_SIZE))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT,
                            "settings: null, or a record of another size (set by orvalix_default_settings)");
    for (const SettingRow& row : settingRows) {
        const int32_t value = fieldOf(*s, row);
        if (value < optionMin(row.row) || value > optionMax(row.row))
            return reportResult(error, ORVALIX_INVALID_ARGUMENT, "%s = %d is out of range [%d,%d]",
                                row.field, value, optionMin(row.row), optionMax(row.row));
    }
    const double most = optionMax(ROW_EMPHASIS) / 100.0;
    if (!(s->preEmphasis >= 0 && s->preEmphasis <= most))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "preEmphasis = %g is out of range [0,%g]",
                            static_cast<double>(s->preEmphasis), most);
    const int32_t threads = currentRecord(*s).threads;
    if (threads < 0 || threads > ORVALIX_MAX_THREADS)
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "threads = %d is out of range [0,%d]",
                            threads, ORVALIX_MAX_THREADS);
    return succeed(error);
}

int orvalix_parse_options(int count, const char* const* options, OrvalixSettings* settings,
                          OrvalixError* error) {
    AnalysisSettings current;
    const int usable = analysisSettingsFrom(settings, &current, error);
    if (usable != ORVALIX_OK) return usable;
    if (count < 0 || (count > 0 && !options))
        return reportResult(error, ORVALIX_INVALID_ARGUMENT, "options: null or a negative count");
    // The settings as option values, so that the program's parser applies each option over them.
    int32_t values[OPTION_ROW_COUNT];
    optionDefaults(values);
    const OrvalixSettings given = currentRecord(*settings);
    for (const SettingRow& row : settingRows) values[row.row] = fieldOf(given, row);
    char line[160] = "";
    bool emphasisGiven = false;
    for (int i = 0; i < count; i++) {
        const char* option = options[i] ? options[i] : "";
        int length = option[0] == '-'
                         ? applyOptionTo(option, values, line, sizeof line)
                         : snprintf(line, sizeof line, "ERROR: Not an option: %.100s\n", option);
        if (length > 0) {
            // The line without its line end; a lone dash's letter (a NUL byte) ends it early.
            line[length - 1] = '\0';
            return reportResult(error, ORVALIX_INVALID_ARGUMENT, "%s", line);
        }
        emphasisGiven = emphasisGiven || (option[1] == 'H' || option[1] == 'h');
    }
    AnalysisSettings parsed;
    settingsFromOptionValues(values, &parsed);
    if (!emphasisGiven) parsed.preEmphasis = given.preEmphasis;
    OrvalixSettings result = interfaceSettingsFrom(parsed);
    result.size = given.size;
    result.threads = given.threads;
    memcpy(settings, &result, given.size < sizeof result ? given.size : sizeof result);
    return succeed(error);
}

}  // extern "C"
