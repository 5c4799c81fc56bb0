// The module's fixed texts. Shared by the Windows resource script (string
// resources 100 and 101) and the Linux platform layer, so that both builds
// answer GetGeneralInfoString with the same description.
#ifndef MIRL_PLATFORM_MODULESTRINGS_H
#define MIRL_PLATFORM_MODULESTRINGS_H

#define MIRL_IDS_PROJNAME 100
#define MIRL_IDS_DESCRIPTION 101

#define MIRL_PROJECT_NAME "MirlParserUbrof"
#define MIRL_DESCRIPTION                                                                 \
  "MirlParserUbrof is the object file parser module for IAR UBROF object file formats. " \
  "Please report problems with parsing to the MIRL Studio support, together with the "   \
  "object file concerned."

#endif
