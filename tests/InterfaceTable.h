// The automation interfaces as hosts know them: every method of the four
// interfaces in vtable order, its dispatch id and its parameters with their
// directions and IDL types. The IDL, both C++ headers and the type library
// are checked against this list, so none of them can drift from what hosts
// were built against.
#ifndef MIRL_TESTS_INTERFACETABLE_H
#define MIRL_TESTS_INTERFACETABLE_H

namespace itable {

struct Method {
  const char* pszInterface;
  const char* pszName;
  long lDispId;
  const char* pszParams;  // "[dir] idl-type name, ..." as declared
};

inline constexpr Method kMethods[] = {
    {"IMirlParser", "Init", 0x01, "[in] unsigned char ucUseEvents"},
    {"IMirlParser", "SetDefaultDataValue", 0x02,
     "[in] unsigned char ucMemoryType, [in] unsigned char ucDefaultDataValue"},
    {"IMirlParser", "ValidateObjectFile", 0x03, "[in,out] BSTR* pbstrPath"},
    {"IMirlParser", "ParseObjectFile", 0x04,
     "[in,out] BSTR* pbstrPath, [in] unsigned long ulParseFlags"},
    {"IMirlParser", "GetTimeOfBuild", 0x05, "[in,out] DATE* pdateTimeOfBuild"},
    {"IMirlParser", "GetTargetInfo", 0x06,
     "[in,out] BSTR* pbstrDeviceName, [out] unsigned long* pulCoreId, "
     "[out] unsigned long* pulMemModelId"},
    {"IMirlParser", "GetGeneralInfoString", 0x07, "[in,out] BSTR* pbstrGeneralInfo"},
    {"IMirlParser", "GetMemoryInfo", 0x08,
     "[in] unsigned char ucMemoryType, [out] unsigned long* pulLowerBoundary, "
     "[out] unsigned long* pulUpperBoundary, [out] unsigned long* pulBlocks"},
    {"IMirlParser", "ReadMemory", 0x09,
     "[in] unsigned char ucMemoryType, [in] unsigned long ulStartAddress, "
     "[in] unsigned long ulCount, [out] unsigned char* pucReceiveBuffer"},
    {"IMirlParser", "GetSourceFileInfo", 0x0A,
     "[in] unsigned long ulFileId, [in,out] BSTR* pbstrPath, [in,out] DATE* pdateTimeStamp, "
     "[out] unsigned char* pucLanguage, [out] unsigned char* pucTemporary"},
    {"IMirlParser", "EnumHLStatements", 0x0C,
     "[in] unsigned long ulStatementId, [out] unsigned long* pulAddress, "
     "[out] unsigned char* pucStatementType"},
    {"IMirlParser", "GetProgMemAddressFromSource", 0x0D,
     "[in,out] BSTR* pbstrPath, [in] unsigned long ulLine, [in] unsigned long ulCol, "
     "[out] unsigned long* pulAddress"},
    {"IMirlParser", "GetSourceFromProgMemAddress", 0x0E,
     "[in] unsigned long ulAddress, [in,out] BSTR* pbstrPath, [out] unsigned long* pulLine, "
     "[out] unsigned long* pulCol, [out] unsigned long* pulLineEnd, "
     "[out] unsigned long* pulColEnd, [out] unsigned long* pulStart"},
    {"IMirlParser", "RemapSourceFile", 0x0F,
     "[in,out] BSTR* pbstrOldPath, [in,out] BSTR* pbstrNewPath"},
    {"IMirlParser", "EnumSubScopes", 0x10,
     "[in] unsigned long ulScopeId, [out] unsigned long* pulCount, "
     "[in,out] unsigned long** ppulIdsOut"},
    {"IMirlParser", "GetScopeInfo", 0x11,
     "[in] unsigned long ulScopeId, [in,out] BSTR* pbstrName, [in,out] BSTR* pbstrFullName, "
     "[out] unsigned long* pulType, [out] unsigned long* pulStartAddress, "
     "[out] unsigned long* pulSize, [out] unsigned long* pulFirstStat"},
    {"IMirlParser", "GetScopeFromProgMemAddress", 0x12,
     "[in] unsigned long ulAddress, [in] unsigned char ucType, [out] unsigned long* pulScopeId"},
    {"IMirlParser", "GetScopeFromName", 0x14,
     "[in,out] BSTR* pbstrName, [out] unsigned long* ulScopeId"},
    {"IMirlParser", "LookupLabel", 0x21, "[in] unsigned long ulAddress, [out] BSTR* pbstrLabel"},
    {"IMirlParser", "EnumSymbolCategories", 0x15,
     "[in] unsigned long ulCategoryId, [in,out] BSTR* pbstrName"},
    {"IMirlParser", "EnumSymbols", 0x16,
     "[in] unsigned long ulScopeId, [in] unsigned long ulCategoryId, "
     "[in,out] unsigned long* pulSymbolId"},
    {"IMirlParser", "LookupSymbolName", 0x17,
     "[in,out] BSTR* pbstrName, [in] unsigned long ulScopeIdIn, [in] unsigned long ulFlags, "
     "[out] unsigned long* pulSymbolId, [out] unsigned long* pulScopeIdOut"},
    {"IMirlParser", "GetSymbolInfo", 0x18,
     "[in] unsigned long ulSymbolId, [in,out] BSTR* pbstrName, [out] unsigned long* pulScopeId, "
     "[out] unsigned long* pulTypeId"},
    {"IMirlParser", "GetSymbolLocation", 0x19,
     "[in] unsigned long ulSymbolId, [in] unsigned long ulProgAddr, "
     "[out] unsigned char* pucInfo, [out] unsigned long* pulAddress, "
     "[out] unsigned char* pucMemType"},
    {"IMirlParser", "GetTypeInfo", 0x1A,
     "[in] unsigned long ulTypeId, [in,out] BSTR* pbstrName, [out] unsigned long* pulSize, "
     "[out] unsigned long* pulSpec, [out] unsigned long* pulElements, "
     "[out] unsigned char* pucMemType, [out] unsigned long* pulPtrSize"},
    {"IMirlParser", "GetRefferedType", 0x1B,
     "[in] unsigned long ulTypeIdIn, [out] unsigned long* pulTypeIdOut, "
     "[out] unsigned long* pulMemType"},
    {"IMirlParser", "GetStructuralMember", 0x1C,
     "[in] unsigned long ulTypeIdIn, [in,out] BSTR* pbstrName, [in] unsigned long ulIndex, "
     "[out] unsigned long* pulTypeIdOut, [out] unsigned long* pulOffset"},
    {"IMirlParser", "EvaluateByLocation", 0x1D,
     "[in] unsigned long ulTypeId, [in] unsigned long ulAddress, [in] unsigned char ucMemType, "
     "[in,out] BSTR* pbstrType, [in,out] BSTR* pbstrLocation, [in,out] BSTR* pbstrValue"},
    {"IMirlParser", "EvaluateByValue", 0x1E,
     "[in] unsigned long ulTypeId, [in] unsigned long ulValue, [in] double dValue, "
     "[in,out] BSTR* pbstrType, [in,out] BSTR* pbstrLocation, [in,out] BSTR* pbstrValue"},
    {"IMirlParser", "GetValue", 0x1F,
     "[in] unsigned long ulTypeId, [in] unsigned long ulAddress, [in] unsigned char ucMemType, "
     "[out] unsigned long* pulValue, [out] double* pdValue"},
    {"IMirlParser", "SetValue", 0x20,
     "[in] unsigned long ulTypeId, [in] unsigned long ulAddress, [in] unsigned char ucMemType, "
     "[in] unsigned long ulValue, [in] double dValue"},

    {"IMirlParserMem", "ReadMemSA", 1,
     "[in] unsigned char ucMemoryType, [in] unsigned long ulStartAddress, "
     "[in] unsigned long ulCount, [out,retval] SAFEARRAY(unsigned char)* pSafeArray"},
    {"IMirlParserMem", "GetProgramExit", 2, "[out] unsigned long* pulProgAddr"},

    {"IMirlParser3", "GetDie", 1,
     "[in] long parentDie, [in] long tag, [out,retval] long* childDie"},
    {"IMirlParser3", "GetDies", 2,
     "[in] long parentDie, [in] long tag, [out,retval] VARIANT* childDies"},
    {"IMirlParser3", "LookupDie", 3,
     "[in] long parentDie, [in] BSTR name, [in] long tag, [out,retval] long* childDie"},
    {"IMirlParser3", "GetAttr", 4, "[in] long die, [in] long attr, [out,retval] VARIANT* value"},
    {"IMirlParser3", "GetTag", 5, "[in] long die, [out,retval] long* tag"},

    {"IMirlParser2", "GetStructuralMember2", 1,
     "[in] unsigned long ulTypeIdIn, [in,out] BSTR* pbstrName, [in] unsigned long ulIndex, "
     "[out] unsigned long* pulTypeIdOut, [out] unsigned long* pulBitOffset, "
     "[out] unsigned long* pulBitSize"},
    {"IMirlParser2", "GetEnumeratorText", 2,
     "[in] unsigned long ulTypeId, [in] unsigned long ulVal, [in,out] BSTR* pbstrText"},
    {"IMirlParser2", "GetEnumeratorValue", 3,
     "[in] unsigned long ulTypeId, [in,out] BSTR* pbstrText, [out] unsigned long* ulVal"},
    {"IMirlParser2", "GetMacroText", 4,
     "[in] unsigned long ulScopeId, [in,out] BSTR* pbstrName, [in,out] BSTR* pbstrText"},
    {"IMirlParser2", "GetProgMemAddressesFromSource", 5,
     "[in,out] BSTR* pbstrPath, [in] unsigned long ulLine, [in] unsigned long ulCol, "
     "[out] unsigned long* pulCount, [out] unsigned long** pulAddresses"},
    {"IMirlParser2", "GetCallFrameInfo", 6,
     "[in] unsigned long ulScopeId, [in] unsigned long ulProgAddr, "
     "[out] unsigned long* pulStreamLength, [out] unsigned char** ppByteStream"},
};

// The four interfaces; each one's help string is its name + " Interface".
inline constexpr const char* kInterfaces[] = {"IMirlParser", "IMirlParser2", "IMirlParser3",
                                              "IMirlParserMem"};

}  // namespace itable

#endif
