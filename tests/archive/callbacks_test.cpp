// The callback and stream objects driven the way the handler drives them, with
// a scripted handler where a real archive cannot be made to report a property.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <cstring>
#include <map>

#include "archive/callbacks.h"
#include "archive/streams.h"
#include "archive_maker.h"
#include "test_support.h"
#include "util/com_object.h"
#include "util/crc32.h"
#include "util/md5.h"
#include "util/text.h"

using namespace SevenZip;
using namespace SevenZip::intl;

namespace {

struct Value {
    VARTYPE type;
    unsigned long long number;  // integer, bool and FILETIME values
    const wchar_t* text;        // VT_BSTR; null gives a null string
};

// A handler that reports scripted item properties (missing ones as VT_EMPTY).
class ScriptedArchive : public IInArchive {
public:
    std::map<std::pair<UInt32, PROPID>, Value> values;
    LONG references = 0;

    HRESULT STDMETHODCALLTYPE GetProperty(UInt32 index, PROPID id, PROPVARIANT* out) override {
        ::PropVariantInit(out);
        auto found = values.find({index, id});
        if (found == values.end()) return S_OK;
        const Value& v = found->second;
        if (v.type == VT_ERROR) return static_cast<HRESULT>(v.number);  // the handler fails the call
        out->vt = v.type;
        if (v.type == VT_BSTR)
            out->bstrVal = v.text ? ::SysAllocString(v.text) : nullptr;
        else if (v.type == VT_BOOL)
            out->boolVal = v.number ? VARIANT_TRUE : VARIANT_FALSE;
        else
            out->uhVal.QuadPart = v.number;  // VT_UI4, VT_I4, VT_FILETIME share the low bytes
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    HRESULT STDMETHODCALLTYPE Open(IInStream*, const UInt64*, IArchiveOpenCallback*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetNumberOfItems(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Extract(const UInt32*, UInt32, Int32, IArchiveExtractCallback*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID, PROPVARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(UInt32, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UInt32, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }
};

// The interface pointer an object hands out for an id; null for E_NOINTERFACE with
// the out-pointer set to null (as COM demands), and a pointer to `untouched` for anything else.
void* Ask(IUnknown* object, const GUID& id) {
    static char untouched;
    void* out = &untouched;
    HRESULT hr = object->QueryInterface(id, &out);
    if (hr == S_OK) {
        static_cast<IUnknown*>(out)->Release();
        return out;
    }
    return hr == E_NOINTERFACE && out == nullptr ? nullptr : &untouched;
}

class CallbackTest : public ::testing::Test {
protected:
    void TearDown() override {
        stream_.reset();
        callback_.reset();
        EXPECT_EQ(LiveComObjectCount(), 0);
        EXPECT_EQ(archive_.references, 0);
    }
    HRESULT Open(UInt32 index, Int32 mode = kAskExtract) {
        stream_.reset();
        return callback_->GetStream(index, stream_.out(), mode);
    }
    ScriptedArchive archive_;
    qvtest::TempDir dest_;
    CComPtr<ArchiveExtractCallback> callback_ = MakeCom<ArchiveExtractCallback>(&archive_, dest_.path());
    CComPtr<ISequentialOutStream> stream_;
};

// The second interface is a distinct subobject; IProgress is not answered.
TEST_F(CallbackTest, InterfacesReferencesAndShortReads) {
    IUnknown* extract = static_cast<IArchiveExtractCallback*>(callback_.get());
    EXPECT_EQ(Ask(extract, IID_IArchiveExtractCallback), extract);
    auto* password = static_cast<ICryptoGetTextPassword*>(Ask(extract, IID_ICryptoGetTextPassword));
    ASSERT_EQ(password, static_cast<ICryptoGetTextPassword*>(callback_.get()));
    BSTR text = nullptr;
    EXPECT_EQ(password->CryptoGetTextPassword(&text), E_ABORT);
    EXPECT_EQ(Ask(extract, IID_IProgress), nullptr);
    EXPECT_EQ(extract->AddRef(), 2u);
    EXPECT_EQ(extract->Release(), 1u);

    // The system file stream answers a short read with S_FALSE; the handler must see S_OK.
    qvtest::WriteBytes(dest_ / L"data.bin", "0123456789");
    CComPtr<IStream> file;
    ASSERT_EQ(::SHCreateStreamOnFileEx((dest_ / L"data.bin").c_str(), STGM_READ, 0x80, FALSE, nullptr, file.out()),
              S_OK);
    auto in = MakeCom<InStreamWrapper>(file.get());
    EXPECT_EQ(Ask(static_cast<IInStream*>(in.get()), IID_IStreamGetSize), static_cast<IStreamGetSize*>(in.get()));
    char buffer[16];
    ULONG baseRead = 0;
    ASSERT_EQ(file->Read(buffer, sizeof buffer, &baseRead), S_FALSE);
    ASSERT_EQ(in->Seek(3, STREAM_SEEK_SET, nullptr), S_OK);
    UInt32 read = 0;
    EXPECT_EQ(in->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(std::string(buffer, read), "3456789");
    EXPECT_EQ(LiveComObjectCount(), 2);
}

TEST_F(CallbackTest, ItemsWithoutPathOrAsFoldersOrDamaged) {
    const unsigned long long time = 127000000000000000ull;
    archive_.values = {
        {{1, kpidSize}, {VT_UI4, 0, nullptr}},  // no path at all: "[Content]"
        {{2, kpidPath}, {VT_BSTR, 0, L"x\\folder"}},
        {{2, kpidIsDir}, {VT_BOOL, 1, nullptr}},
        {{2, kpidAttrib}, {VT_UI4, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN, nullptr}},
        {{2, kpidMTime}, {VT_FILETIME, time, nullptr}},
        {{3, kpidPath}, {VT_BSTR, 0, L"bad.bin"}},
        {{3, kpidAttrib}, {VT_UI4, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, nullptr}},
        {{3, kpidMTime}, {VT_FILETIME, time, nullptr}},
        {{4, kpidPath}, {VT_BSTR, 0, nullptr}},  // a null path text is an empty item path
        {{4, kpidIsDir}, {VT_BOOL, 1, nullptr}},
    };
    ASSERT_EQ(Open(1), S_OK);
    UInt32 written = 0;
    EXPECT_EQ(stream_->Write("anonymous", 9, &written), S_OK);
    stream_.reset();
    EXPECT_EQ(qvtest::ReadBytes(dest_ / L"[Content]"), "anonymous");

    // A folder gets its attributes but no stream and no time.
    ASSERT_EQ(Open(2), S_OK);
    EXPECT_FALSE(stream_);
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);
    EXPECT_EQ(::GetFileAttributesW((dest_ / L"x\\folder").c_str()),
              DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(qvtest::LastWriteTime(dest_ / L"x\\folder"), time);

    // A damaged item still gets time and attributes; the failure is remembered, not returned.
    ASSERT_EQ(Open(3), S_OK);
    stream_.reset();
    EXPECT_EQ(callback_->SetOperationResult(kOpCrcError), S_OK);
    EXPECT_EQ(callback_->SetOperationResult(kOpUnsupportedMethod), S_OK);
    EXPECT_EQ(callback_->FirstFailure(), HRESULT_FROM_WIN32(ERROR_CRC));
    EXPECT_EQ(qvtest::LastWriteTime(dest_ / L"bad.bin"), time);
    EXPECT_EQ(::GetFileAttributesW((dest_ / L"bad.bin").c_str()),
              DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));

    EXPECT_EQ(Open(4), S_OK);
    EXPECT_FALSE(stream_);
    EXPECT_EQ(qvtest::ListTree(dest_.path()).size(), 4u);
}

TEST_F(CallbackTest, BadPropertiesAndPathsFailTheItemAndWriteNothing) {
    archive_.values = {
        {{0, kpidPath}, {VT_UI4, 7, nullptr}},
        {{1, kpidPath}, {VT_BSTR, 0, L"one.txt"}},
        {{1, kpidSize}, {VT_I4, 12, nullptr}},
        {{2, kpidPath}, {VT_BSTR, 0, L"two.txt"}},
        {{2, kpidMTime}, {VT_ERROR, static_cast<unsigned long long>(STG_E_INSUFFICIENTMEMORY), nullptr}},
        {{3, kpidPath}, {VT_BSTR, 0, L"..\\escape.txt"}},
        {{4, kpidPath}, {VT_BSTR, 0, L"sub\\..\\..\\escape"}},
        {{4, kpidIsDir}, {VT_BOOL, 1, nullptr}},
    };
    EXPECT_EQ(Open(0), E_FAIL);
    EXPECT_EQ(Open(1), E_FAIL);
    EXPECT_EQ(Open(2), STG_E_INSUFFICIENTMEMORY);
    EXPECT_EQ(Open(3), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
    EXPECT_EQ(Open(4), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
    EXPECT_EQ(Open(3, kAskSkip), S_OK);
    EXPECT_FALSE(stream_);
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);
    EXPECT_TRUE(qvtest::ListTree(dest_.path()).empty());
}

// A file counts as written only when the bytes that reached it are the
// archive's: as many as it states and with its CRC-32. Bytes rewritten out of
// order are judged by the closed file. Digests come from the closed files.
TEST_F(CallbackTest, WrittenBytesMustBeWhatTheArchiveStates) {
    const auto crc = [](const char* text) {
        return static_cast<unsigned long long>(Crc32Update(0, text, std::strlen(text)));
    };
    archive_.values = {
        {{1, kpidPath}, {VT_BSTR, 0, L"good.bin"}},    {{1, kpidSize}, {VT_UI8, 3, nullptr}},
        {{1, kpidCRC}, {VT_UI4, crc("abc"), nullptr}}, {{2, kpidPath}, {VT_BSTR, 0, L"short.bin"}},
        {{2, kpidSize}, {VT_UI8, 5, nullptr}},         {{2, kpidCRC}, {VT_UI4, crc("hello"), nullptr}},
        {{3, kpidPath}, {VT_BSTR, 0, L"changed.bin"}}, {{3, kpidSize}, {VT_UI8, 3, nullptr}},
        {{3, kpidCRC}, {VT_UI4, crc("abc"), nullptr}}, {{4, kpidPath}, {VT_BSTR, 0, L"rewound.bin"}},
        {{4, kpidSize}, {VT_UI8, 3, nullptr}},         {{4, kpidCRC}, {VT_UI4, crc("abc"), nullptr}},
    };
    callback_ = MakeCom<ArchiveExtractCallback>(&archive_, dest_.path(), /*takeDigests=*/true);
    const auto write = [this](UInt32 index, const char* text) {
        EXPECT_EQ(Open(index), S_OK);
        UInt32 written = 0;
        EXPECT_EQ(stream_->Write(text, static_cast<UInt32>(std::strlen(text)), &written), S_OK);
    };
    write(1, "abc");
    stream_.reset();
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);
    EXPECT_EQ(callback_->FirstFailure(), S_OK);
    write(2, "hel");
    stream_.reset();
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);
    EXPECT_EQ(callback_->FirstFailure(), HRESULT_FROM_WIN32(ERROR_CRC));
    write(3, "abd");
    stream_.reset();
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);
    write(4, "xbc");
    CComPtr<IOutStream> seekable;
    ASSERT_EQ(stream_->QueryInterface(IID_IOutStream, seekable.outVoid()), S_OK);
    ASSERT_EQ(seekable->Seek(0, STREAM_SEEK_SET, nullptr), S_OK);
    UInt32 written = 0;
    ASSERT_EQ(seekable->Write("a", 1, &written), S_OK);
    seekable.reset();
    stream_.reset();
    EXPECT_EQ(callback_->SetOperationResult(kOpOk), S_OK);

    EXPECT_EQ(callback_->FinishDigests(), S_OK);
    std::vector<std::wstring> listed;
    for (const ExtractedItem& item : callback_->Items()) {
        listed.push_back(item.path);
        CMd5 md5;
        md5.Update("abc", 3);
        EXPECT_EQ(item.md5, md5.HexDigest());
    }
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"good.bin", L"rewound.bin"}));
}

TEST(ItemPaths, Containment) {
    for (const wchar_t* safe : {L"a\\b/c.txt", L"..a", L"a\\.\\b", L"a\\b..c\\d", L"", L"名字\\文件", L"a\\\\b",
                                L"CONSOLE", L"nul1", L"COM0", L"COM10", L"lpt", L"x.y", L"con-tent.txt", L"AUXILIARY"})
        EXPECT_TRUE(IsContainedItemPath(safe)) << WideToUtf8(safe);
    for (const wchar_t* unsafe : {L"..", L"../x", L"a\\..\\..\\x", L"a\\..", L"\\x", L"/x", L"\\\\server\\x", L"C:\\x",
                                  L"C:x", L"z:", L"...\\x", L".. \\x"})
        EXPECT_FALSE(IsContainedItemPath(unsafe)) << WideToUtf8(unsafe);
    // Names the system would not store as given: devices (any case, any
    // extension, in any folder), trailing dots or spaces, streams, wildcards.
    for (const wchar_t* unsafe :
         {L"CON",     L"prn.txt",   L"a\\Aux", L"NUL.tar.gz", L"nul .txt", L"COM1", L"com9.log", L"LPT1",
          L"lpt5\\x", L"COM\u00b9", L"CONIN$", L"a..",        L"x.",       L"y ",   L"d.\\f",    L"a\\b:stream",
          L"a:b",     L"w*.txt",    L"q?",     L"p|q",        L"t\tab",    L"<x>"})
        EXPECT_FALSE(IsContainedItemPath(unsafe)) << WideToUtf8(unsafe);
}

}  // namespace
