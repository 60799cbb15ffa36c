// The Windows Runtime interfaces of the credential locker, declared from their documented
// vtable layout (mingw-w64 has no header for them). Every method uses the system's calling
// convention; nothing here is compiler specific.
#pragma once

#include <windows.h>

#include <activation.h>
#include <inspectable.h>
#include <oleauto.h>
#include <roapi.h>
#include <winstring.h>

namespace lupirane::winrt {

inline constexpr wchar_t password_vault_class[] = L"Windows.Security.Credentials.PasswordVault";
inline constexpr wchar_t password_credential_class[] = L"Windows.Security.Credentials.PasswordCredential";

// {00000035-0000-0000-C000-000000000046}
inline constexpr IID IID_IActivationFactory_ = {0x00000035, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {61FD2C0B-C8D4-48C1-A54F-BC5A64205AF2}
inline constexpr IID IID_IPasswordVault = {0x61FD2C0B, 0xC8D4, 0x48C1, {0xA5, 0x4F, 0xBC, 0x5A, 0x64, 0x20, 0x5A, 0xF2}};
// {6AB18989-C720-41A7-A6C1-FEADB36329A0}
inline constexpr IID IID_IPasswordCredential = {0x6AB18989, 0xC720, 0x41A7, {0xA6, 0xC1, 0xFE, 0xAD, 0xB3, 0x63, 0x29, 0xA0}};
// {54EF13A1-BF26-47B5-97DD-DE779B7CAD58}
inline constexpr IID IID_ICredentialFactory = {0x54EF13A1, 0xBF26, 0x47B5, {0x97, 0xDD, 0xDE, 0x77, 0x9B, 0x7C, 0xAD, 0x58}};
// IVectorView<PasswordCredential>, a parameterised interface:
// {4E6185AD-A6DF-5428-AFF5-17E45F3F476F}
inline constexpr IID IID_IVectorView_PasswordCredential = {
    0x4E6185AD, 0xA6DF, 0x5428, {0xAF, 0xF5, 0x17, 0xE4, 0x5F, 0x3F, 0x47, 0x6F}};
// {82BA7092-4C88-427D-A7BC-16DD93FEB67E}
inline constexpr IID IID_IRestrictedErrorInfo = {0x82BA7092, 0x4C88, 0x427D, {0xA7, 0xBC, 0x16, 0xDD, 0x93, 0xFE, 0xB6, 0x7E}};

struct IPasswordCredential : public IInspectable {
  virtual HRESULT STDMETHODCALLTYPE get_Resource(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Resource(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_UserName(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_UserName(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Password(HSTRING* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE put_Password(HSTRING value) = 0;
  virtual HRESULT STDMETHODCALLTYPE RetrievePassword() = 0;
  // An IPropertySet; the program never asks for it.
  virtual HRESULT STDMETHODCALLTYPE get_Properties(IInspectable** value) = 0;
};

// IVectorView<PasswordCredential>: GetAt comes before get_Size.
struct IVectorView_PasswordCredential : public IInspectable {
  virtual HRESULT STDMETHODCALLTYPE GetAt(UINT32 index, IPasswordCredential** item) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Size(UINT32* size) = 0;
  virtual HRESULT STDMETHODCALLTYPE IndexOf(IPasswordCredential* value, UINT32* index, boolean* found) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMany(UINT32 start_index, UINT32 capacity, IPasswordCredential** items,
                                            UINT32* actual) = 0;
};

struct IPasswordVault : public IInspectable {
  virtual HRESULT STDMETHODCALLTYPE Add(IPasswordCredential* credential) = 0;
  virtual HRESULT STDMETHODCALLTYPE Remove(IPasswordCredential* credential) = 0;
  virtual HRESULT STDMETHODCALLTYPE Retrieve(HSTRING resource, HSTRING user_name, IPasswordCredential** credential) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindAllByResource(HSTRING resource, IVectorView_PasswordCredential** credentials) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindAllByUserName(HSTRING user_name, IVectorView_PasswordCredential** credentials) = 0;
  virtual HRESULT STDMETHODCALLTYPE RetrieveAll(IVectorView_PasswordCredential** credentials) = 0;
};

// The activation factory interface of Windows.Security.Credentials.PasswordCredential.
struct ICredentialFactory : public IInspectable {
  virtual HRESULT STDMETHODCALLTYPE CreatePasswordCredential(HSTRING resource, HSTRING user_name, HSTRING password,
                                                             IPasswordCredential** credential) = 0;
};

struct IRestrictedErrorInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetErrorDetails(BSTR* description, HRESULT* error, BSTR* restricted_description,
                                                    BSTR* capability_sid) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetReference(BSTR* reference) = 0;
};

}  // namespace lupirane::winrt
