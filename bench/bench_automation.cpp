// Property puts and gets through IDispatch::Invoke with a known dispatch
// identifier, as a late-bound client makes them once it has looked the name
// up: text (Subject, identifier 0) and a 32-bit number (Port).
#include "server/automation.hpp"
#include "server/members.hpp"

#include <benchmark/benchmark.h>

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object);

namespace {

IDispatch* NewMessage() {
    IClassFactory* factory = nullptr;
    DllGetClassObject(quillpost::server::Library().classes[0]->clsid, IID_IClassFactory,
                      reinterpret_cast<void**>(&factory));
    IDispatch* message = nullptr;
    factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&message));
    factory->Release();
    return message;
}

constexpr DISPID kSubject = 0;
constexpr DISPID kPort = 0x6803000E;

void Put(benchmark::State& state, DISPID id, VARIANT value) {
    IDispatch* m = NewMessage();
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    for (auto _ : state) {
        const HRESULT hr = m->Invoke(id, IID_NULL, 0x409, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
        benchmark::DoNotOptimize(hr);
    }
    m->Release();
}

void Get(benchmark::State& state, DISPID id) {
    IDispatch* m = NewMessage();
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        m->Invoke(id, IID_NULL, 0x409, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result);
        VariantClear(&result);
    }
    m->Release();
}

void BM_InvokePutText(benchmark::State& state) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(u"A subject of some thirty letters");
    Put(state, kSubject, value);
    VariantClear(&value);
}
void BM_InvokeGetText(benchmark::State& state) { Get(state, kSubject); }
void BM_InvokePutNumber(benchmark::State& state) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_I4;
    V_I4(&value) = 2525;
    Put(state, kPort, value);
}
void BM_InvokeGetNumber(benchmark::State& state) { Get(state, kPort); }

BENCHMARK(BM_InvokePutText);
BENCHMARK(BM_InvokeGetText);
BENCHMARK(BM_InvokePutNumber);
BENCHMARK(BM_InvokeGetNumber);

}  // namespace

BENCHMARK_MAIN();
