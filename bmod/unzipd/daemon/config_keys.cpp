#include "bmod/unzipd/daemon/config.h"

namespace ruva {

// The order is the order of applyConfig. The second IncludePattern row
// never receives a value from the file (the first entry of a name takes
// them all), so its default always stays included. The pool sizes default
// to the ZIP pool's own defaults.
const ConfigRegister uzdConfigRegister[] = {
    {"INT", "WellKnownPort", "9229", 0},
    {"BOOL", "AnswerBroadcasts", "no", 0},
    {"BOOL", "DetectStructChange", "yes", 0},
    {"STR", "IPMask", nullptr, kConfigRepeatable},
    {"STR", "CentralServer", nullptr, 0},
    {"STR", "ServerComment", "Kivo Browser", 0},
    {"STR", "CacheFile", "tmp/ruvaknown.cache", 0},
    {"BOOL", "FoldNames", "Yes", 0},
    {"STR", "LogLevel", "Notice", 0},
    {"STR", "LogFile", nullptr, 0},
    {"BOOL", "UseSysLog", "yes", 0},
    {"BOOL", "VerboseMode", "no", 0},
    {"BOOL", "DebugMode", "no", 0},
    {"STR", "RecursiveDir", nullptr, kConfigRepeatable},
    {"STR", "NonRecursiveDir", nullptr, kConfigRepeatable},
    {"STR", "WritableNonRecursiveDir", nullptr, kConfigRepeatable},
    {"STR", "AnnotationDb", nullptr, 0},
    {"STR", "LibraryPath", nullptr, 0},
    {"STR", "IncludePattern", "*.[kK][vV][oO]", kConfigRepeatable},
    {"STR", "IncludePattern", "*.[aA][nN][xX]", kConfigRepeatable},
    {"STR", "ExcludePattern", nullptr, kConfigRepeatable},
    {"BOOL", "EnforceIPMask", "yes", 0},
    {"STR", "SuperUserName", nullptr, kConfigRepeatable},
    {"STR", "User", nullptr, 0},
    {"STR", "Group", nullptr, 0},
    {"INT", "ParentWaitTime", "30", 0},
    {"STR", "LibStatusPath", nullptr, 0},
    {"STR", "AdminMailID", nullptr, 0},
    {"INT", "MaxLogSize", "0", 0},
    {"INT", "MaxLogBackups", "1", 0},
    {"INT", "MaxDatabases", "700", 0},
    {"INT", "MaxCentralHeaders", "280000", 0},
    {"INT", "NamePoolSize", "9004800", 0},
    {"INT", "MaxSessions", "256", 0},
    {nullptr, nullptr, nullptr, 0},
};

}  // namespace ruva
