// The class factory and the in-process server entry points.
#include <atomic>
#include <new>

#include "CMirlParserUbrof.h"

namespace mirl {

static std::atomic<long> g_cObjects{0};
static std::atomic<long> g_cLocks{0};

void ModuleAddRef() { ++g_cObjects; }
void ModuleRelease() { --g_cObjects; }
long ModuleLockCount() { return g_cObjects + g_cLocks; }

class ClassFactory : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // The factory is static; its references do not keep anything alive, but
  // LockServer does.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                           void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    CMirlParserUbrof* p = new (std::nothrow) CMirlParserUbrof(pUnkOuter);
    if (!p) return E_OUTOFMEMORY;
    IUnknown* inner = p->InnerUnknown();
    HRESULT hr = inner->QueryInterface(riid, ppv);
    inner->Release();  // drops the construction reference
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override {
    if (fLock)
      ++g_cLocks;
    else
      --g_cLocks;
    return S_OK;
  }
};

static ClassFactory g_Factory;

}  // namespace mirl

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (rclsid != CLSID_MirlParserUbrof) return CLASS_E_CLASSNOTAVAILABLE;
  return mirl::g_Factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow(void) { return mirl::ModuleLockCount() == 0 ? S_OK : S_FALSE; }
