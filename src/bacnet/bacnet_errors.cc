#include "bacnet/bacnet_errors.h"

#include <iterator>

namespace bacnet {
namespace {

// Error code texts in code order.  Code 51 (abort buffer overflow) has no
// record of its own.
constexpr TDescRecord kErrorCodes[] = {
    {0, "Other"},
    {1, "Authentication Failed"},
    {2, "Configuration In Progress"},
    {3, "Device Busy"},
    {4, "Dynamic Creation Not Supported"},
    {5, "File Access Denied"},
    {6, "Incompatible Security Levels"},
    {7, "Inconsistent Parameters"},
    {8, "Inconsistent Selection Criterion"},
    {9, "Invalid Data Type"},
    {10, "Invalid File Access Method"},
    {11, "Error Code Invalid File Start Position"},
    {12, "Invalid Operator Name"},
    {13, "Invalid Parameter Data Type"},
    {14, "Invalid Time Stamp"},
    {15, "Key Generation Error"},
    {16, "Missing Required Parameter"},
    {17, "No Objects Of Specified Type"},
    {18, "No Space For Object"},
    {19, "No Space To Add List Element"},
    {20, "No Space To Write Property"},
    {21, "No Vt Sessions Available"},
    {22, "Property Is Not A List"},
    {23, "Object Deletion Not Permitted"},
    {24, "Object Identifier Already Exists"},
    {25, "Operational Problem"},
    {26, "Password Failure"},
    {27, "Read Access Denied"},
    {28, "Security Not Supported"},
    {29, "Service Request Denied"},
    {30, "Timeout"},
    {31, "Unknown Object"},
    {32, "Unknown Property"},
    {33, "Reserved1"},
    {34, "Unknown Vt Class"},
    {35, "Unknown Vt Session"},
    {36, "Unsupported Object Type"},
    {37, "Value Out Of Range"},
    {38, "Vt Session Already Closed"},
    {39, "Vt Session Termination Failure"},
    {40, "Write Access Denied"},
    {41, "Character Set Not Supported"},
    {42, "Invalid Array Index"},
    {43, "Cov Subscription Failed"},
    {44, "Not Cov Property"},
    {45, "Optional Functionality Not Supported"},
    {46, "Invalid Configuration Data"},
    {47, "Datatype Not Supported"},
    {48, "Duplicate Name"},
    {49, "Duplicate Object Id"},
    {50, "Property Is Not An Array"},
    {52, "Abort Invalid Apdu In This State"},
    {53, "Abort Preempted By Higher Priority Task"},
    {54, "Abort Segmentation Not Supported"},
    {55, "Abort Proprietary"},
    {56, "Abort Other"},
    {57, "Invalid Tag"},
    {58, "Network Down"},
    {59, "Reject Buffer Overflow"},
    {60, "Reject Inconsistent Parameters"},
    {61, "Reject Invalid Parameter Data Type"},
    {62, "Reject Invalid Tag"},
    {63, "Reject Missing Required Parameter"},
    {64, "Reject Parameter Out Of Range"},
    {65, "Reject Too Many Arguments"},
    {66, "Reject Undefined Enumeration"},
    {67, "Reject Unrecognized Service"},
    {68, "Reject Proprietary"},
    {69, "Reject Other"},
    {70, "Unknown Device"},
    {71, "Unknown Route"},
    {72, "Value Not Initialized"},
    {73, "Invalid Event State"},
    {74, "No Alarm Configured"},
    {75, "Log Buffer Full"},
    {76, "Logged Value Purged"},
    {77, "No Property Specified"},
    {78, "Not Configured For Triggered Logging"},
    {79, "Unknown Subscription"},
    {80, "Parameter Out Of Range"},
    {81, "List Element Not Found"},
    {82, "Busy"},
    {83, "Communication Disabled"},
    {84, "Success"},
    {85, "Access Denied"},
    {86, "Bad Destination Address"},
    {87, "Bad Destination Device Id"},
    {88, "Bad Signature"},
    {89, "Bad Source Address"},
    {90, "Bad Timestamp"},
    {91, "Cannot Use Key"},
    {92, "Cannot Verify Message Id"},
    {93, "Correct Key Revision"},
    {94, "Destination Device Id Required"},
    {95, "Duplicate Message"},
    {96, "Encryption Not Configured"},
    {97, "Encryption Required"},
    {98, "Incorrect Key"},
    {99, "Invalid Key Data"},
    {100, "Key Update In Progress"},
    {101, "Malformed Message"},
    {102, "Not Key Server"},
    {103, "Security Not Configured"},
    {104, "Source Security Required"},
    {105, "Too Many Keys"},
    {106, "Unknown Authentication Type"},
    {107, "Unknown Key"},
    {108, "Unknown Key Revision"},
    {109, "Unknown Source Message"},
    {110, "Not Router To Dnet"},
    {111, "Router Busy"},
    {112, "Unknown Network Message"},
    {113, "Message Too Long"},
    {114, "Security Error"},
    {115, "Addressing Error"},
    {116, "Write Bdt Failed"},
    {117, "Read Bdt Failed"},
    {118, "Register Foreign Device Failed"},
    {119, "Read Fdt Failed"},
    {120, "Delete Fdt Entry Failed"},
    {121, "Distribute Broadcast Failed"},
    {122, "Unknown File Size"},
    {123, "Abort Apdu Too Long"},
    {124, "Abort Application Exceeded Reply Time"},
    {125, "Abort Out Of Resources"},
    {126, "Abort Tsm Timeout"},
    {127, "Abort Window Size Out Of Range"},
    {128, "File Full"},
    {129, "Inconsistent Configuration"},
    {130, "Inconsistent Object Type"},
    {131, "Internal Error"},
    {132, "Not Configured"},
    {133, "Out Of Memory"},
    {134, "Value Too Long"},
    {135, "Abort Insufficient Security"},
    {136, "Abort Security Error"},
};

}  // namespace

std::string ErrorClassName(uint8_t errorClass) {
  static const char* const kNames[] = {"Device",   "Object", "Property", "Resources",
                                        "Security", "Services", "VT",     "Communication"};
  return errorClass < std::size(kNames) ? kNames[errorClass] : std::string();
}

std::string ErrorCodeText(uint16_t errorCode) {
  for (const TDescRecord& r : kErrorCodes)
    if (r.Code == errorCode) return r.Text;
  return std::string();
}

std::string RejectReasonText(uint8_t reason) {
  // Reject reasons 0..9 and the error codes standing for them.
  static constexpr uint16_t kCodes[] = {69, 59, 60, 61, 62, 63, 64, 65, 66, 67};
  if (reason < std::size(kCodes)) return ErrorCodeText(kCodes[reason]);
  if (reason >= 64) return ErrorCodeText(68);  // proprietary range
  return std::string();
}

std::string AbortReasonText(uint8_t reason) {
  // Abort reasons 0..11 and the error codes standing for them; buffer overflow
  // (1) has no error code text of its own.
  if (reason == 1) return "Abort Buffer Overflow";
  static constexpr uint16_t kCodes[] = {56, 0, 52, 53, 54, 136, 135, 127, 124, 125, 126, 123};
  if (reason < std::size(kCodes)) return ErrorCodeText(kCodes[reason]);
  if (reason >= 64) return ErrorCodeText(55);  // proprietary range
  return std::string();
}

}  // namespace bacnet
