// The COM face of one quorlin::Quorlin: the dual iid _Quorlin (IDispatch served from the
// type information), the host's IInitDone, and ISupportErrorInfo so that callers trust the
// error descriptions. Apartment-threaded: each object is called on the thread that made it.
#pragma once

#include <atomic>

#include "Quorlin.h"
#include "quorlin.hpp"

namespace quorlin::automation {

class QuorlinObject final : public _Quorlin, public IInitDone, public ISupportErrorInfo {
 public:
  // Creates an object and queries it for `iid`; the caller owns the result.
  static HRESULT Create(REFIID iid, void** object);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* arguments, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

  // _Quorlin
  HRESULT STDMETHODCALLTYPE get_Info(BSTR* info) override;
  HRESULT STDMETHODCALLTYPE put_SMS(BSTR text) override;
  HRESULT STDMETHODCALLTYPE get_SMS(BSTR* text) override;
  HRESULT STDMETHODCALLTYPE ResetPhone() override;
  HRESULT STDMETHODCALLTYPE ReadAllMsg() override;
  HRESULT STDMETHODCALLTYPE DeleteMsg() override;
  HRESULT STDMETHODCALLTYPE get_Error(BSTR* status) override;
  HRESULT STDMETHODCALLTYPE OpenPort() override;
  HRESULT STDMETHODCALLTYPE put_PortNumber(BSTR number) override;
  HRESULT STDMETHODCALLTYPE put_PortSpeed(BSTR speed) override;
  HRESULT STDMETHODCALLTYPE ClosePort() override;
  HRESULT STDMETHODCALLTYPE IInitDone_Done() override;
  HRESULT STDMETHODCALLTYPE IInitDone_GetInfo(SAFEARRAY** pInfo) override;
  HRESULT STDMETHODCALLTYPE IInitDone_Init(IDispatch* pConnection) override;
  HRESULT STDMETHODCALLTYPE get_JoinParts(VARIANT_BOOL* join) override;
  HRESULT STDMETHODCALLTYPE put_JoinParts(VARIANT_BOOL join) override;
  HRESULT STDMETHODCALLTYPE get_ReleaseAfterHours(long* hours) override;
  HRESULT STDMETHODCALLTYPE put_ReleaseAfterHours(long hours) override;
  HRESULT STDMETHODCALLTYPE get_DeleteUndecodable(VARIANT_BOOL* on) override;
  HRESULT STDMETHODCALLTYPE put_DeleteUndecodable(VARIANT_BOOL on) override;
  HRESULT STDMETHODCALLTYPE get_StoreUsage(BSTR* usage) override;
  HRESULT STDMETHODCALLTYPE SendMsg(BSTR number, BSTR text) override;
  HRESULT STDMETHODCALLTYPE get_StatusReport(VARIANT_BOOL* on) override;
  HRESULT STDMETHODCALLTYPE put_StatusReport(VARIANT_BOOL on) override;
  HRESULT STDMETHODCALLTYPE get_SentReferences(BSTR* references) override;
  HRESULT STDMETHODCALLTYPE get_Ports(BSTR* ports) override;

  // IInitDone
  HRESULT STDMETHODCALLTYPE Init(IDispatch* pConnection) override;
  HRESULT STDMETHODCALLTYPE Done() override;
  HRESULT STDMETHODCALLTYPE GetInfo(SAFEARRAY** pInfo) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  QuorlinObject();
  ~QuorlinObject();

  std::atomic<ULONG> references_{1};
  quorlin::Quorlin core_;
};

}  // namespace quorlin::automation
