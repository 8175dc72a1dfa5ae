// The callback and stream objects on their own, driven the way the handler
// drives them, with a scripted archive handler where a real one cannot be made
// to report a given property.
#include <gtest/gtest.h>
#include <shlwapi.h>

#include <map>

#include "archive/callbacks.h"
#include "archive/com_object.h"
#include "archive/streams.h"
#include "archive_maker.h"
#include "test_support.h"
#include "util/com_ptr.h"
#include "util/text.h"

using namespace SevenZip;
using namespace SevenZip::intl;

namespace {

// An archive handler that reports scripted properties for its items.
class ScriptedArchive : public IInArchive {
public:
    struct Value {
        VARTYPE type = VT_EMPTY;
        std::wstring text;       // VT_BSTR (a null string when `nullText`)
        bool nullText = false;
        unsigned long long number = 0;  // integer, bool and FILETIME values
    };
    std::map<std::pair<UInt32, PROPID>, Value> values;
    std::map<std::pair<UInt32, PROPID>, HRESULT> failures;
    LONG references = 0;

    void Set(UInt32 index, PROPID id, Value value) { values[{index, id}] = value; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE Open(IInStream*, const UInt64*, IArchiveOpenCallback*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Close() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetNumberOfItems(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetProperty(UInt32 index, PROPID id, PROPVARIANT* value) override {
        auto failure = failures.find({index, id});
        if (failure != failures.end()) return failure->second;
        ::PropVariantInit(value);
        auto found = values.find({index, id});
        if (found == values.end()) return S_OK;
        const Value& v = found->second;
        value->vt = v.type;
        switch (v.type) {
        case VT_BSTR: value->bstrVal = v.nullText ? nullptr : ::SysAllocString(v.text.c_str()); break;
        case VT_BOOL: value->boolVal = v.number ? VARIANT_TRUE : VARIANT_FALSE; break;
        case VT_UI4: value->ulVal = static_cast<ULONG>(v.number); break;
        case VT_UI8: value->uhVal.QuadPart = v.number; break;
        case VT_I4: value->lVal = static_cast<LONG>(v.number); break;
        case VT_FILETIME:
            value->filetime.dwLowDateTime = static_cast<DWORD>(v.number);
            value->filetime.dwHighDateTime = static_cast<DWORD>(v.number >> 32);
            break;
        default: break;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Extract(const UInt32*, UInt32, Int32, IArchiveExtractCallback*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArchiveProperty(PROPID, PROPVARIANT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfProperties(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPropertyInfo(UInt32, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetNumberOfArchiveProperties(UInt32*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetArchivePropertyInfo(UInt32, BSTR*, PROPID*, VARTYPE*) override { return E_NOTIMPL; }
};

ScriptedArchive::Value Text(const std::wstring& text) { return {VT_BSTR, text, false, 0}; }
ScriptedArchive::Value Number(VARTYPE type, unsigned long long n) { return {type, L"", false, n}; }

class CallbackTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(LiveObjectCount(), 0); }

    // Asks for one item's stream the way the handler does; returns its result.
    HRESULT Open(ArchiveExtractCallback* callback, UInt32 index, ComPtr<ISequentialOutStream>& stream,
                 Int32 mode = kAskExtract) {
        return callback->GetStream(index, stream.out(), mode);
    }

    static void Write(ISequentialOutStream* stream, const std::string& bytes) {
        UInt32 written = 0;
        ASSERT_EQ(stream->Write(bytes.data(), static_cast<UInt32>(bytes.size()), &written), S_OK);
        ASSERT_EQ(written, bytes.size());
    }

    ScriptedArchive archive_;
    qvtest::TempDir dest_;
};

template <class T>
ComPtr<T> Make(T* object) {
    object->AddRef();
    return ComPtr<T>(object);
}

// Asks an object for an interface; returns the pointer it stored (or the sentinel it left alone).
void* Ask(IUnknown* object, const GUID& id, HRESULT expected) {
    void* sentinel = reinterpret_cast<void*>(0x1234);
    void* out = sentinel;
    EXPECT_EQ(object->QueryInterface(id, &out), expected);
    if (expected == S_OK) {
        EXPECT_NE(out, sentinel);
        static_cast<IUnknown*>(out)->Release();
    } else {
        EXPECT_EQ(out, sentinel);
    }
    return out;
}

TEST_F(CallbackTest, EachObjectAnswersItsOwnInterfacesWithCountedReferences) {
    auto open = Make(new ArchiveOpenCallback());
    IUnknown* openFirst = static_cast<IArchiveOpenCallback*>(open.get());
    void* openPassword = Ask(openFirst, IID_ICryptoGetTextPassword, S_OK);
    EXPECT_EQ(Ask(openFirst, IID_IUnknown, S_OK), openFirst);
    EXPECT_EQ(Ask(openFirst, IID_IArchiveOpenCallback, S_OK), openFirst);
    EXPECT_NE(openPassword, static_cast<void*>(openFirst));
    Ask(openFirst, IID_IProgress, E_NOINTERFACE);
    Ask(openFirst, IID_IArchiveExtractCallback, E_NOINTERFACE);
    BSTR password = nullptr;
    EXPECT_EQ(static_cast<ICryptoGetTextPassword*>(openPassword)->CryptoGetTextPassword(&password), E_ABORT);
    EXPECT_EQ(open->SetTotal(nullptr, nullptr), S_OK);

    {
        auto extract = Make(new ArchiveExtractCallback(&archive_, dest_.path()));
        EXPECT_EQ(archive_.references, 1);
        IUnknown* first = static_cast<IArchiveExtractCallback*>(extract.get());
        EXPECT_EQ(Ask(first, IID_IArchiveExtractCallback, S_OK), first);
        void* extractPassword = Ask(first, IID_ICryptoGetTextPassword, S_OK);
        EXPECT_EQ(static_cast<ICryptoGetTextPassword*>(extractPassword)->CryptoGetTextPassword(&password), E_ABORT);
        Ask(first, IID_IProgress, E_NOINTERFACE);
        Ask(first, IID_IArchiveOpenCallback, E_NOINTERFACE);
        EXPECT_EQ(first->AddRef(), 2u);
        EXPECT_EQ(first->Release(), 1u);
    }
    EXPECT_EQ(archive_.references, 0);

    ComPtr<IStream> memory(::SHCreateMemStream(nullptr, 0));
    ASSERT_TRUE(memory);
    auto in = Make(new InStreamWrapper(memory.get()));
    IUnknown* inFirst = static_cast<IInStream*>(in.get());
    for (const GUID* id : {&IID_IUnknown, &IID_ISequentialInStream, &IID_IInStream})
        EXPECT_EQ(Ask(inFirst, *id, S_OK), inFirst);
    EXPECT_EQ(Ask(inFirst, IID_IStreamGetSize, S_OK), static_cast<IStreamGetSize*>(in.get()));
    Ask(inFirst, IID_IOutStream, E_NOINTERFACE);

    auto out = Make(new OutStreamWrapper(memory.get()));
    IUnknown* outFirst = out.get();
    for (const GUID* id : {&IID_IUnknown, &IID_ISequentialOutStream, &IID_IOutStream})
        EXPECT_EQ(Ask(outFirst, *id, S_OK), outFirst);
    Ask(outFirst, IID_IInStream, E_NOINTERFACE);
    Ask(outFirst, IID_IStreamGetSize, E_NOINTERFACE);
    EXPECT_EQ(LiveObjectCount(), 3);
    EXPECT_EQ(out->Release(), 0u);
    out.detach();
    EXPECT_EQ(LiveObjectCount(), 2);
}

TEST_F(CallbackTest, InStreamReadsSeeksAndSizesTheFile) {
    qvtest::WriteBytes(dest_ / L"data.bin", "0123456789");
    ComPtr<IStream> file;
    ASSERT_EQ(::SHCreateStreamOnFileEx((dest_ / L"data.bin").c_str(), STGM_READ, FILE_ATTRIBUTE_NORMAL, FALSE,
                                       nullptr, file.out()),
              S_OK);
    auto in = Make(new InStreamWrapper(file.get()));
    UInt64 size = 0;
    EXPECT_EQ(in->GetSize(&size), S_OK);
    EXPECT_EQ(size, 10u);
    UInt64 position = 99;
    EXPECT_EQ(in->Seek(-4, STREAM_SEEK_END, &position), S_OK);
    EXPECT_EQ(position, 6u);
    EXPECT_EQ(in->Seek(-2, STREAM_SEEK_CUR, nullptr), S_OK);

    // The file stream itself answers a short read with S_FALSE; the handler must see S_OK.
    char buffer[16] = {};
    ULONG baseRead = 0;
    ASSERT_EQ(file->Read(buffer, sizeof buffer, &baseRead), S_FALSE);
    ASSERT_EQ(baseRead, 6u);
    EXPECT_EQ(in->Seek(3, STREAM_SEEK_SET, nullptr), S_OK);
    UInt32 read = 0;
    EXPECT_EQ(in->Read(buffer, sizeof buffer, &read), S_OK);
    EXPECT_EQ(std::string(buffer, read), "3456789");
    EXPECT_EQ(in->Read(buffer, sizeof buffer, nullptr), S_OK);
}

TEST_F(CallbackTest, FileItemCreatesFoldersAndGetsItsTimeAndAttributesAfterClosing) {
    const unsigned long long time = qvtest::FileTimeOf(2005, 6, 7, 8, 9, 10);
    archive_.Set(0, kpidPath, Text(L"a\\b/c.txt"));
    archive_.Set(0, kpidAttrib, Number(VT_UI4, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    archive_.Set(0, kpidMTime, Number(VT_FILETIME, time));
    archive_.Set(0, kpidSize, Number(VT_UI8, 5));
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_.path() + L"\\"));

    ComPtr<ISequentialOutStream> stream;
    ASSERT_EQ(Open(callback.get(), 0, stream), S_OK);
    ASSERT_TRUE(stream);
    EXPECT_TRUE(qvtest::Exists(dest_ / L"a\\b"));
    Write(stream.get(), "hello");
    ComPtr<IOutStream> seekable;
    ASSERT_EQ(stream->QueryInterface(IID_IOutStream, seekable.outVoid()), S_OK);
    EXPECT_EQ(seekable->SetSize(4), S_OK);
    seekable.reset();
    stream.reset();
    EXPECT_EQ(callback->PrepareOperation(kAskExtract), S_OK);
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);
    EXPECT_EQ(callback->FirstFailure(), S_OK);

    std::wstring file = dest_ / L"a\\b\\c.txt";
    EXPECT_EQ(qvtest::ReadBytes(file), "hell");
    EXPECT_EQ(qvtest::LastWriteTime(file), time);
    EXPECT_EQ(::GetFileAttributesW(file.c_str()), DWORD(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
}

TEST_F(CallbackTest, DamagedItemStillGetsTimeAndAttributesAndIsRemembered) {
    const unsigned long long time = qvtest::FileTimeOf(2012, 1, 2, 3, 4, 5);
    archive_.Set(0, kpidPath, Text(L"bad.bin"));
    archive_.Set(0, kpidMTime, Number(VT_FILETIME, time));
    archive_.Set(0, kpidAttrib, Number(VT_UI4, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    archive_.Set(1, kpidPath, Text(L"good.bin"));
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_.path()));
    ComPtr<ISequentialOutStream> stream;
    ASSERT_EQ(Open(callback.get(), 0, stream), S_OK);
    stream.reset();
    EXPECT_EQ(callback->SetOperationResult(kOpCrcError), S_OK);
    EXPECT_EQ(qvtest::LastWriteTime(dest_ / L"bad.bin"), time);
    EXPECT_EQ(::GetFileAttributesW((dest_ / L"bad.bin").c_str()), DWORD(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
    // Later items go on; the first failure is the one reported.
    ASSERT_EQ(Open(callback.get(), 1, stream), S_OK);
    stream.reset();
    EXPECT_EQ(callback->SetOperationResult(kOpUnsupportedMethod), S_OK);
    EXPECT_TRUE(qvtest::Exists(dest_ / L"good.bin"));
    EXPECT_EQ(callback->FirstFailure(), HRESULT_FROM_WIN32(ERROR_CRC));
}

TEST_F(CallbackTest, FolderItemGetsAttributesButNoStreamAndNoTime) {
    const unsigned long long time = qvtest::FileTimeOf(2003, 3, 3, 3, 3, 3);
    archive_.Set(0, kpidPath, Text(L"x\\folder"));
    archive_.Set(0, kpidIsDir, Number(VT_BOOL, 1));
    archive_.Set(0, kpidAttrib, Number(VT_UI4, FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    archive_.Set(0, kpidMTime, Number(VT_FILETIME, time));
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_.path()));
    ComPtr<ISequentialOutStream> stream;
    ASSERT_EQ(Open(callback.get(), 0, stream), S_OK);
    EXPECT_FALSE(stream);
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);
    std::wstring folder = dest_ / L"x\\folder";
    EXPECT_EQ(::GetFileAttributesW(folder.c_str()), DWORD(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_NE(qvtest::LastWriteTime(folder), time);
}

TEST_F(CallbackTest, ItemPathsWithoutTextOrWithNullText) {
    // No path at all: the item is written as "[Content]".
    archive_.Set(1, kpidSize, Number(VT_UI4, 0));
    // A null path string is an empty item path: a folder item is the destination itself...
    archive_.Set(2, kpidPath, {VT_BSTR, L"", true, 0});
    archive_.Set(2, kpidIsDir, Number(VT_BOOL, 1));
    // ...and a file item cannot be created there.
    archive_.Set(3, kpidPath, {VT_BSTR, L"", true, 0});
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_.path()));
    ComPtr<ISequentialOutStream> stream;
    ASSERT_EQ(Open(callback.get(), 1, stream), S_OK);
    Write(stream.get(), "anonymous");
    stream.reset();
    EXPECT_EQ(qvtest::ReadBytes(dest_ / L"[Content]"), "anonymous");
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);

    EXPECT_EQ(Open(callback.get(), 2, stream), S_OK);
    EXPECT_FALSE(stream);
    HRESULT hr = Open(callback.get(), 3, stream);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    EXPECT_FALSE(stream);
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);
    EXPECT_EQ(qvtest::ListTree(dest_.path()), std::vector<std::wstring>{L"[Content]"});
}

TEST_F(CallbackTest, UnreadableOrMistypedPropertiesFailTheItem) {
    archive_.Set(0, kpidPath, Number(VT_UI4, 7));                      // path of the wrong type
    archive_.Set(1, kpidPath, Text(L"one.txt"));
    archive_.Set(1, kpidSize, Text(L"12"));                            // size of the wrong type
    archive_.Set(2, kpidPath, Text(L"two.txt"));
    archive_.Set(2, kpidSize, Number(VT_I4, 12));                      // signed size
    archive_.Set(3, kpidPath, Text(L"three.txt"));
    archive_.failures[{3, kpidMTime}] = STG_E_INSUFFICIENTMEMORY;      // handler error passes through
    archive_.Set(4, kpidPath, Text(L"four.txt"));
    archive_.Set(4, kpidIsDir, Number(VT_UI4, 1));                     // folder flag of the wrong type
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_.path()));
    ComPtr<ISequentialOutStream> stream;
    EXPECT_EQ(Open(callback.get(), 0, stream), E_FAIL);
    EXPECT_EQ(Open(callback.get(), 1, stream), E_FAIL);
    EXPECT_EQ(Open(callback.get(), 2, stream), E_FAIL);
    EXPECT_EQ(Open(callback.get(), 3, stream), STG_E_INSUFFICIENTMEMORY);
    EXPECT_EQ(Open(callback.get(), 4, stream), E_FAIL);
    EXPECT_FALSE(stream);
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);
    EXPECT_TRUE(qvtest::ListTree(dest_.path()).empty());
}

TEST_F(CallbackTest, SkippedItemsAndRefusedPathsWriteNothing) {
    archive_.Set(0, kpidPath, Text(L"skipped.txt"));
    archive_.Set(1, kpidPath, Text(L"..\\escape.txt"));
    archive_.Set(2, kpidPath, Text(L"..\\escape"));
    archive_.Set(2, kpidIsDir, Number(VT_BOOL, 1));
    auto callback = Make(new ArchiveExtractCallback(&archive_, dest_ / L"inner"));
    ISequentialOutStream* untouched = reinterpret_cast<ISequentialOutStream*>(0x5678);
    ISequentialOutStream* out = untouched;
    EXPECT_EQ(callback->GetStream(0, &out, kAskSkip), S_OK);
    EXPECT_EQ(callback->GetStream(0, &out, kAskTest), S_OK);
    EXPECT_EQ(out, untouched);
    ComPtr<ISequentialOutStream> stream;
    EXPECT_EQ(Open(callback.get(), 1, stream), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
    EXPECT_EQ(Open(callback.get(), 2, stream), HRESULT_FROM_WIN32(ERROR_BAD_PATHNAME));
    EXPECT_EQ(callback->SetOperationResult(kOpOk), S_OK);
    EXPECT_TRUE(qvtest::ListTree(dest_.path()).empty());
}

TEST(ItemPaths, JoiningAndContainment) {
    EXPECT_EQ(JoinItemTarget(L"C:\\out\\", L"x.txt"), L"C:\\out\\x.txt");
    EXPECT_EQ(JoinItemTarget(L"C:\\out", L"x.txt"), L"C:\\out\\x.txt");
    EXPECT_EQ(JoinItemTarget(L"C:\\out/", L"x.txt"), L"C:\\out/x.txt");
    EXPECT_EQ(JoinItemTarget(L"", L"x.txt"), L"x.txt");
    EXPECT_EQ(ParentFolderOf(L"C:\\out\\a/b.txt"), L"C:\\out\\a/");
    EXPECT_EQ(ParentFolderOf(L"C:\\out/a\\b.txt"), L"C:\\out/a\\");
    EXPECT_EQ(ParentFolderOf(L"b.txt"), L"");

    for (const wchar_t* safe : {L"x.txt", L"a\\b\\c.txt", L"a/b", L"..a", L"a..", L"a\\.\\b", L"a\\b..c\\d",
                                L"[Content]", L"", L"名字\\文件.txt", L"a\\...b"})
        EXPECT_TRUE(IsContainedItemPath(safe)) << WideToUtf8(safe);
    for (const wchar_t* unsafe : {L"..", L"..\\x", L"../x", L"a\\..\\..\\x", L"a\\..", L"a/../b", L"\\x", L"/x",
                                  L"\\\\server\\share\\x", L"C:\\x", L"C:x", L"a\\b:stream", L"...\\x", L".. \\x",
                                  L"a\\. .\\x"})
        EXPECT_FALSE(IsContainedItemPath(unsafe)) << WideToUtf8(unsafe);
}

}  // namespace
