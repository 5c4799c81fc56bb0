// CMirlParserUbrof: the creatable parser object. It owns every table a parse
// fills and answers the automation interfaces from them.
#ifndef MIRL_CMIRLPARSERUBROF_H
#define MIRL_CMIRLPARSERUBROF_H

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "../platform/Platform.h"
#include "../scopes/NameTable.h"
#include "../scopes/ScopeTable.h"
#include "../scopes/SymbolTable.h"
#include "../source/FileMapper.h"
#include "../source/SourceFiles.h"
#include "../types/TypeTable.h"
#include "../ubrof/DMemory.h"
#include "../ubrof/Modules.h"
#include "../ubrof/Parser.h"

// Counts live objects and factory locks for DllCanUnloadNow.
namespace mirl {
void ModuleAddRef();
void ModuleRelease();
long ModuleLockCount();
}  // namespace mirl

// One IDispatch implementation per dual interface, each answering through
// that interface's own type information.
template <class Itf, const IID* piid>
class DispatchPart : public Itf {
 public:
  // IMirlParser has a method of its own named GetTypeInfo; keep it visible.
  using Itf::GetTypeInfo;
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
    if (!pctinfo) return E_POINTER;
    ITypeInfo* pInfo = nullptr;
    *pctinfo = SUCCEEDED(platform::GetInterfaceTypeInfo(*piid, &pInfo)) ? 1 : 0;
    if (pInfo) ReleaseTypeInfo(pInfo);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) override {
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0) return DISP_E_BADINDEX;
    return platform::GetInterfaceTypeInfo(*piid, ppTInfo);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                          DISPID* rgDispId) override {
    return platform::DispatchGetIDsOfNames(*piid, rgszNames, cNames, rgDispId);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                                   DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                   EXCEPINFO* pExcepInfo, UINT* puArgErr) override {
    return platform::DispatchInvoke(static_cast<Itf*>(this), *piid, dispIdMember, wFlags,
                                    pDispParams, pVarResult, pExcepInfo, puArgErr);
  }

 private:
  static void ReleaseTypeInfo(ITypeInfo* p) { reinterpret_cast<IUnknown*>(p)->Release(); }
};

class CMirlParserUbrof : public DispatchPart<IMirlParser, &IID_IMirlParser>,
                         public DispatchPart<IMirlParserMem, &IID_IMirlParserMem>,
                         public DispatchPart<IMirlParser3, &IID_IMirlParser3> {
 public:
  // pOuter is the controlling unknown when the object is aggregated.
  explicit CMirlParserUbrof(IUnknown* pOuter = nullptr);
  virtual ~CMirlParserUbrof();
  CMirlParserUbrof(const CMirlParserUbrof&) = delete;
  CMirlParserUbrof& operator=(const CMirlParserUbrof&) = delete;

  // The object's own (non-delegating) unknown: what the class factory hands
  // out for an aggregated object.
  IUnknown* InnerUnknown() { return &m_Inner; }

  // ---- IUnknown (delegates to the outer object when aggregated) -------
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // ---- IMirlParser ------------------------------------------------------
  HRESULT STDMETHODCALLTYPE Init(unsigned char ucUseEvents) override;
  HRESULT STDMETHODCALLTYPE SetDefaultDataValue(unsigned char ucMemoryType,
                                                unsigned char ucDefaultDataValue) override;
  HRESULT STDMETHODCALLTYPE ValidateObjectFile(BSTR* pbstrPath) override;
  HRESULT STDMETHODCALLTYPE ParseObjectFile(BSTR* pbstrPath, ULONG ulParseFlags) override;
  HRESULT STDMETHODCALLTYPE GetTimeOfBuild(DATE* pdateTimeOfBuild) override;
  HRESULT STDMETHODCALLTYPE GetTargetInfo(BSTR* pbstrDeviceName, ULONG* pulCoreId,
                                          ULONG* pulMemModelId) override;
  HRESULT STDMETHODCALLTYPE GetGeneralInfoString(BSTR* pbstrGeneralInfo) override;
  HRESULT STDMETHODCALLTYPE GetMemoryInfo(unsigned char ucMemoryType, ULONG* pulLowerBoundary,
                                          ULONG* pulUpperBoundary, ULONG* pulBlocks) override;
  HRESULT STDMETHODCALLTYPE ReadMemory(unsigned char ucMemoryType, ULONG ulStartAddress,
                                       ULONG ulCount, unsigned char* pucReceiveBuffer) override;
  HRESULT STDMETHODCALLTYPE GetSourceFileInfo(ULONG ulFileId, BSTR* pbstrPath, DATE* pdateTimeStamp,
                                              unsigned char* pucLanguage,
                                              unsigned char* pucTemporary) override;
  HRESULT STDMETHODCALLTYPE EnumHLStatements(ULONG ulStatementId, ULONG* pulAddress,
                                             unsigned char* pucStatementType) override;
  HRESULT STDMETHODCALLTYPE GetProgMemAddressFromSource(BSTR* pbstrPath, ULONG ulLine, ULONG ulCol,
                                                        ULONG* pulAddress) override;
  HRESULT STDMETHODCALLTYPE GetSourceFromProgMemAddress(ULONG ulAddress, BSTR* pbstrPath,
                                                        ULONG* pulLine, ULONG* pulCol,
                                                        ULONG* pulLineEnd, ULONG* pulColEnd,
                                                        ULONG* pulStart) override;
  HRESULT STDMETHODCALLTYPE RemapSourceFile(BSTR* pbstrOldPath, BSTR* pbstrNewPath) override;
  HRESULT STDMETHODCALLTYPE EnumSubScopes(ULONG ulScopeId, ULONG* pulCount,
                                          ULONG** ppulIdsOut) override;
  HRESULT STDMETHODCALLTYPE GetScopeInfo(ULONG ulScopeId, BSTR* pbstrName, BSTR* pbstrFullName,
                                         ULONG* pulType, ULONG* pulStartAddress, ULONG* pulSize,
                                         ULONG* pulFirstStat) override;
  HRESULT STDMETHODCALLTYPE GetScopeFromProgMemAddress(ULONG ulAddress, unsigned char ucType,
                                                       ULONG* pulScopeId) override;
  HRESULT STDMETHODCALLTYPE GetScopeFromName(BSTR* pbstrName, ULONG* ulScopeId) override;
  HRESULT STDMETHODCALLTYPE LookupLabel(ULONG ulAddress, BSTR* pbstrLabel) override;
  HRESULT STDMETHODCALLTYPE EnumSymbolCategories(ULONG ulCategoryId, BSTR* pbstrName) override;
  HRESULT STDMETHODCALLTYPE EnumSymbols(ULONG ulScopeId, ULONG ulCategoryId,
                                        ULONG* pulSymbolId) override;
  HRESULT STDMETHODCALLTYPE LookupSymbolName(BSTR* pbstrName, ULONG ulScopeIdIn, ULONG ulFlags,
                                             ULONG* pulSymbolId, ULONG* pulScopeIdOut) override;
  HRESULT STDMETHODCALLTYPE GetSymbolInfo(ULONG ulSymbolId, BSTR* pbstrName, ULONG* pulScopeId,
                                          ULONG* pulTypeId) override;
  HRESULT STDMETHODCALLTYPE GetSymbolLocation(ULONG ulSymbolId, ULONG ulProgAddr,
                                              unsigned char* pucInfo, ULONG* pulAddress,
                                              unsigned char* pucMemType) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(ULONG ulTypeId, BSTR* pbstrName, ULONG* pulSize,
                                        ULONG* pulSpec, ULONG* pulElements,
                                        unsigned char* pucMemType, ULONG* pulPtrSize) override;
  using DispatchPart<IMirlParser, &IID_IMirlParser>::GetTypeInfo;
  HRESULT STDMETHODCALLTYPE GetRefferedType(ULONG ulTypeIdIn, ULONG* pulTypeIdOut,
                                            ULONG* pulMemType) override;
  HRESULT STDMETHODCALLTYPE GetStructuralMember(ULONG ulTypeIdIn, BSTR* pbstrName, ULONG ulIndex,
                                                ULONG* pulTypeIdOut, ULONG* pulOffset) override;
  HRESULT STDMETHODCALLTYPE EvaluateByLocation(ULONG ulTypeId, ULONG ulAddress,
                                               unsigned char ucMemType, BSTR* pbstrType,
                                               BSTR* pbstrLocation, BSTR* pbstrValue) override;
  HRESULT STDMETHODCALLTYPE EvaluateByValue(ULONG ulTypeId, ULONG ulValue, double dValue,
                                            BSTR* pbstrType, BSTR* pbstrLocation,
                                            BSTR* pbstrValue) override;
  HRESULT STDMETHODCALLTYPE GetValue(ULONG ulTypeId, ULONG ulAddress, unsigned char ucMemType,
                                     ULONG* pulValue, double* pdValue) override;
  HRESULT STDMETHODCALLTYPE SetValue(ULONG ulTypeId, ULONG ulAddress, unsigned char ucMemType,
                                     ULONG ulValue, double dValue) override;

  // ---- IMirlParserMem ---------------------------------------------------
  HRESULT STDMETHODCALLTYPE ReadMemSA(unsigned char ucMemoryType, ULONG ulStartAddress,
                                      ULONG ulCount, SAFEARRAY** pSafeArray) override;
  HRESULT STDMETHODCALLTYPE GetProgramExit(ULONG* pulProgAddr) override;

  // ---- IMirlParser3 -----------------------------------------------------
  HRESULT STDMETHODCALLTYPE GetDie(LONG parentDie, LONG tag, LONG* childDie) override;
  HRESULT STDMETHODCALLTYPE GetDies(LONG parentDie, LONG tag, VARIANT* childDies) override;
  HRESULT STDMETHODCALLTYPE LookupDie(LONG parentDie, BSTR name, LONG tag, LONG* childDie) override;
  HRESULT STDMETHODCALLTYPE GetAttr(LONG die, LONG attr, VARIANT* value) override;
  HRESULT STDMETHODCALLTYPE GetTag(LONG die, LONG* tag) override;

  // ---- Beside the interfaces: what the read API (MirlProgram.h) uses -----
  // What ended the last failed ParseObjectFile.
  const mirl::ParseDiagnostic& LastParseDiagnostic() const { return m_LastDiagnostic; }
  bool IsParsed() const { return (m_ulState & kStateParsed) != 0; }
  // ParseObjectFile's work on a path (null: none); acceptUbrof10 lets a
  // version 10 file be read with the layouts of ubrof10/ (the read API's
  // opt-in entry). The interfaces never pass it.
  HRESULT ParsePath(const char* pszPath, bool acceptUbrof10);
  // The address runs that the object file wrote into each memory image.
  const mirl::MemoryWrites& MemoryWritten() const { return m_Writes; }

  // Lookups that an interface method and the read API both answer with, so
  // that the two never disagree. Each is the method's work after its
  // argument and state checks; a failing status is the method's own.
  // GetSourceFromProgMemAddress: the statement holding the address in the
  // innermost scope's runs, and its run.
  bool FindStatementAt(uint32_t address, uint32_t* pStatement, uint32_t* pRun) const;
  // GetProgMemAddressFromSource, for a path as the object file stores it.
  bool FindLineAddress(const std::string& storedPath, uint32_t line, uint32_t* pAddress) const;
  // GetScopeFromProgMemAddress; kNone when no scope answers.
  uint32_t FindScopeAt(uint32_t address, uint32_t kind) const;
  // GetScopeFromName; kNone when the text names no scope.
  uint32_t FindScopeNamed(const std::string& text) const;
  // LookupSymbolName after the scope check; kNone when not found.
  uint32_t FindSymbolNamed(std::string name, uint32_t scope, bool global,
                           uint32_t* pScopeFound) const;
  // LookupLabel; null when no label is at the address.
  const uint32_t* FindLabel(uint32_t address) const;
  // GetRefferedType and the members GetStructuralMember chooses from.
  HRESULT FindReferredType(uint32_t typeId, uint32_t* pType, uint32_t* pMemType) const;
  HRESULT FindMembers(uint32_t typeId, uint32_t* pFirst, uint32_t* pCount) const;
  // ReadMemory into count bytes at pDest; false for an unknown memory type.
  bool ReadImage(uint8_t memType, uint32_t address, uint32_t count, uint8_t* pDest) const;
  const mirl::DMemory* Image(uint8_t memType) const;

  enum : ULONG { kStateInitialized = 0x1, kStateParsed = 0x2 };

 private:
  // The non-delegating unknown of an aggregatable object.
  struct NonDelegatingUnknown : public IUnknown {
    CMirlParserUbrof* m_pOwner;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
  };

  // Releases the string at *pbstr and stores a new one holding text.
 public:
  static void ReplaceBstr(BSTR* pbstr, const std::string& text);

 public:
  // Members, in this order.
  ULONG m_ulState = 0;
  std::unique_ptr<char[]> m_pszParsedFile;
  mirl::FileInfo m_FileInfo;
  mirl::NameTable m_NameTable;
  mirl::TypeTable m_TypeTable;
  mirl::SymbolTable m_SymbolTable;
  mirl::LabelIndex m_SymbolIndex;
  std::vector<mirl::MacroRecord> m_Macros;
  std::vector<mirl::SegmentGroupRecord> m_SegmentGroups;
  std::vector<mirl::ModuleRecord> m_Modules;
  mirl::DMemory m_CodeMemory;
  mirl::DMemory m_EepromMemory;
  mirl::DMemory m_DataMemory;
  std::vector<mirl::SourceFileRecord> m_SourceFiles;
  std::vector<mirl::StatementRecord> m_Statements;
  mirl::ScopeTable m_ScopeTable;
  mirl::FileNameMap m_FileNames;
  std::vector<mirl::StatementRun> m_StatementRuns;
  mirl::FileMapper m_FileMapper;
  // The linker's key/value pairs; no interface method reports them.
  std::vector<mirl::KeyValueRecord> m_KeyValues;

 private:
  std::atomic<ULONG> m_cRef{1};
  IUnknown* m_pOuter;
  NonDelegatingUnknown m_Inner;
  mirl::ParseDiagnostic m_LastDiagnostic;
  mirl::MemoryWrites m_Writes;
};

#endif
