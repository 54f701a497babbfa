// The gateway's configuration: one fixed-layout record of all settings, the table of the
// configuration keys that set its fields, and the loading of the record from the configuration
// user's properties on alpha (the user and the alpha host come from omega).
//
// Module state: a work record (written by OpenOmega and PutVal), a published record (a copy of
// the work record made by PublishConfig; everything else reads this one) and a loaded flag.
// Nothing here is locked: one thread uses it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mailtrack/exterror.h"
#include "mailtrack/gwutils.h"

// Numeric fields are 32 bits: "int" and "long" settings have the same range.
struct ConfigRecord {
    char directory[2048];  // the instance's directory below FAXROOT
    int32_t GWI;
    char alphaHost[36];  // alpha server holding the configuration user
    char user[11];       // the configuration user, whose properties are the settings
    char GWPWD[11];
    char GWNRP[21];
    int32_t GWSPP;
    int32_t GWEXPF;
    char GWIATT[1024];
    int32_t GWFDR;
    int32_t GWNO;
    int32_t GWNI;
    int32_t GWNR;
    int32_t GWMAXP;
    char GWHTR[1024];
    int32_t GWFLR;
    char GWEDLL[1024];
    int32_t GWDL;  // trace level slot of the gateway
    int32_t WAVGSM;
    char TXTFAX[1024];
    char TXTVOC[1024];
    char TXTVID[1024];
    int32_t DRASMSG;
    int32_t GWRTRY;
    int32_t GWWARN;
    int32_t GWGIVUP;
    int32_t KEEPTMP;
    int32_t CVTWIN;
    int32_t CVTPDF;
    int32_t CVTTXT;
    int32_t INLOG;

    char ADMUSER[81];  // keys ADMUSER and DRFROM
    char ADMTEXT[81];  // keys ADMTEXT and DRFTXT
    MediaType DEFNET;
    char MAHOST[128];
    char MYDOM[128];
    char MADEFU[128];
    int32_t TCPTMO;
    char DMH[256];
    int32_t NRMBX;
    int32_t NRSES;
    char DMSPA[32];
    int32_t DMSPP;
    char DMP3A[32];
    int32_t DMP3P;
    int32_t DMP3TH;
    int32_t DMP3TO;
    int32_t DMMAXS;
    int32_t DMLIO;
    int32_t DMDL;  // trace level slot of the other program
    int32_t DMNU;
    int32_t SNDAL;
    char RRTO[1024];
    char PIPE[1024];
    int32_t MINIDLE;
    int32_t MAXIDLE;
    int32_t MINESLP;
    int32_t MAXESLP;

    char LDH[256];
    int32_t LDTO;
    int32_t LDP;
    char LDTYPE[256];
    int32_t LDDL;
    char LDBNAM[256];
    char LDBPWD[256];
    int32_t LDE;
    char LDCERT[256];
    char LDALB[256];
    char LDALF[256];
    int32_t LDALS;
    char LDUDB[256];
    char LDUDF[256];
    int32_t LDUDS;
    char LDUDA[256];
    char LDUDD[256];
    char LDMBB[256];
    char LDMBF[256];
    int32_t LDMBS;
    char LDMBA[256];
    char LDOUTP[256];
    int32_t SAP;

    char HEADLINE[129];
    int32_t HEADFIN;
    char HEADFMT[129];
    char CPI[21];
    char TSI[21];
    char PINCODE[21];
    int32_t CPI_CE;
    int32_t CPI_CSK;
    char CPI_CPR[256];
    int32_t TSI_CE;
    int32_t TSI_CSK;
    char TSI_CPR[256];

    // Trace parameters kept by SaveTraceSetup and applied by RestoreTraceSetup.
    int32_t TRCNUM;    // trace files kept
    int32_t TRCDAYS;   // minimum age in days
    int32_t TRCSIZE;   // maximum file size in units of 1024 bytes
    char TRCMODE[21];  // roll-mode name
    char TRSTAMP[21];  // time-stamp type name

    int32_t COVERID;  // keys COVERID and COVER
    char OUTPREF[31];
    int32_t AGET;
    char AGEP[81];
    int32_t AGENR;
    int32_t AGEM;
    char SMSSCH[21];
    char SMSHFMT[256];
    char SMSCUT[256];
    int32_t SMSLEN;
};

// How a key's text value is converted into its field.
enum FieldType : int32_t {
    FIELD_INT = 0,    // "%d"
    FIELD_LONG = 1,   // "%ld" (32 bits as well)
    FIELD_TEXT = 2,   // character array of the entry's size
    FIELD_MEDIA = 3,  // media name, MediaCode
};

// Where OpenOmega takes the value that a setting gets when its property is not set.
enum ConfigDefault : int32_t {
    DEFAULT_NONE,             // the key is not read
    DEFAULT_VALUE,            // defaultText for text and media fields, defaultNumber for numbers
    DEFAULT_FROM_KEY,         // the value just read for the key named by defaultText
    DEFAULT_HOST_NAME,        // the machine's host name
    DEFAULT_LOCAL_HOST,       // GetLocalHost()
    DEFAULT_HELP_PAGE,        // "<GetLocalHost()>/scripts/mailtrack"
    DEFAULT_LDAP_PORT,        // 636 when LDTYPE is "ldaps" in any case, else 389
    DEFAULT_TRACE_LEVEL,      // GetTraceLevel()
    DEFAULT_TRACE_MINAGE,     // GetTraceMinage()
    DEFAULT_TRACE_ROLLMODE,   // GetTraceRollmodeName()
    DEFAULT_TRACE_MINFILES,   // GetTraceMinfiles()
    DEFAULT_TRACE_FILESIZE,   // GetTraceFilesize() / 1024
    DEFAULT_TRACE_STAMPTYPE,  // GetTraceStamptypeName()
};

// One configuration key.
struct ConfigKey {
    char key[20];  // upper case
    FieldType type;
    size_t offset;         // position of the field in ConfigRecord
    int32_t size;          // array size of a text field, 4 for the others
    int32_t userSettable;  // 1: an unforced PutConf may change the field
    int32_t readPlace;     // 1..107: place in OpenOmega's read order; 0: never read
    int32_t noPrefix;      // 1: the property is the bare key, else "SG_" + key
    ConfigDefault defaultKind;
    const char *defaultText;  // text default, or the key of DEFAULT_FROM_KEY
    int32_t defaultNumber;
};

// The keys in ascending order, compared as ASCII lower case ("_" sorts before letters). Built
// at compile time: it needs nothing at start-up.
extern const ConfigKey ConfigKeyTable[];
extern const int ConfigKeyCount;  // 108

// Index of the key's entry (compared without regard to case), or -1 (also for null).
int FindKey(const char *key);

// Sets the key's field in *record from value. 0 also when the value is not a number (field
// unchanged, two level-2 traces) or when the key is not user-settable and force is 0 (silently
// unchanged); GW 0 for an unknown key. A text is cut to the field and NUL-filled; a number must
// be in 32-bit range.
[[nodiscard]] ErrorCode PutConf(ConfigRecord *record, const char *key, const char *value, int force);

// Loads the work record once from omega and alpha and publishes it. 0 when loaded, GW 6 without
// FAXROOT, GW 3 when omega or alpha cannot be reached, GW 0 for a bad CF_SMINST or an instance
// omega does not configure, else the code of the first failing read. Later calls only
// republish the work record and return what the first load returned, except after a missing
// FAXROOT, a bad CF_SMINST or an instance omega does not configure: those load again.
[[nodiscard]] ErrorCode OpenOmega();
// Copies the work record over the published record.
void PublishConfig();
// The published record (SaveTraceSetup writes its trace fields into it).
ConfigRecord *PublishedConfig();

// Size the out buffer of FetchVal needs: ten continuations of 80 characters fit.
constexpr size_t CONFIG_VALUE_SIZE = 1024;

// The property key of user (both cut to 10 characters), continued by key0..key9 for a key
// shorter than 10 characters. 0 with the value in out (CONFIG_VALUE_SIZE bytes), GW 2 when it
// is not set (out empty), GW 3 when alpha cannot be reached.
[[nodiscard]] ErrorCode FetchVal(const char *user, const char *key, char *out);
// The value, or the default when it is not set, cut to len - 1 characters into buffer (len
// bytes, NUL-filled). 0, or FetchVal's failure (buffer unchanged).
[[nodiscard]] ErrorCode GetVal(const char *user, const char *key, const char *defaultValue, char *buffer,
                               int len);
// GetVal converted: "%d", "%ld" (a value that is not a 32-bit number leaves *out unchanged) or
// a media name (an unknown name gives fax). GetVal's failure leaves *out unchanged.
[[nodiscard]] ErrorCode GetStr(const char *user, const char *key, int32_t defaultValue, int32_t *out);
[[nodiscard]] ErrorCode GetStr(const char *user, const char *key, long defaultValue, long *out);
[[nodiscard]] ErrorCode GetStr(const char *user, const char *key, const char *defaultValue, MediaType *out);

// Stores the property (key cut to 10, value to 80 characters) on alpha for the published user,
// then sets the key's field, without a leading "SG_", in the work record with force. GW 3 when
// alpha cannot be reached (work record unchanged), else PutConf's result.
[[nodiscard]] ErrorCode PutVal(const char *key, const char *value);

// Test seams: the work record, and a return to the state at start (both records zero, not
// loaded).
ConfigRecord *WorkConfig();
void ResetConfigState();
