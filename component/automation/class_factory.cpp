#include "automation/class_factory.hpp"

#include "automation/module.hpp"
#include "automation/quorlin_object.hpp"

namespace quorlin::automation {

namespace {

class QuorlinFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
      *object = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  // Static lifetime: references need no counting.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return QuorlinObject::Create(iid, object);
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      AddServerLock();
    } else {
      DropServerLock();
    }
    return S_OK;
  }
};

QuorlinFactory factory;

}  // namespace

IClassFactory* QuorlinClassFactory() noexcept {
  return &factory;
}

}  // namespace quorlin::automation
