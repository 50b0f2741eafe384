#include "platform/com.h"

#include <objidl.h>

#include <system_error>
#include <thread>

#include <gtest/gtest.h>

namespace {

template <class F>
void on_new_thread(F body)
{
    std::thread thread(body);
    thread.join();
}

// After the apartment owner has gone, the thread is free for another one.
void expect_thread_uninitialised()
{
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_OK) << "the thread was left in an apartment";
    if (SUCCEEDED(hr))
        CoUninitialize();
}

struct counted_object : IUnknown {
    LONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, __uuidof(IUnknown))) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

}

TEST(com_apartment, enters_a_single_threaded_apartment_and_leaves_it_once)
{
    on_new_thread([] {
        {
            com_apartment first;
            EXPECT_TRUE(first.initialised());
            APTTYPE type{};
            APTTYPEQUALIFIER qualifier{};
            ASSERT_EQ(CoGetApartmentType(&type, &qualifier), S_OK);
            // The first single-threaded apartment of a process is its main one.
            EXPECT_TRUE(type == APTTYPE_STA || type == APTTYPE_MAINSTA) << type;

            com_apartment moved = std::move(first);
            EXPECT_FALSE(first.initialised());
            EXPECT_TRUE(moved.initialised());
        }
        expect_thread_uninitialised();
    });
}

TEST(com_apartment, keeps_a_thread_that_is_in_the_multithreaded_apartment)
{
    on_new_thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            com_apartment apartment;
            EXPECT_FALSE(apartment.initialised());
        }
        // Still in the multithreaded apartment: entering it again only adds a reference.
        HRESULT again = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        EXPECT_EQ(again, S_FALSE);
        if (SUCCEEDED(again))
            CoUninitialize();
        CoUninitialize();
        expect_thread_uninitialised();
    });
}

TEST(com_ptr, owns_one_reference)
{
    counted_object object;
    {
        com_ptr<IUnknown> owner{&object};
        com_ptr<IUnknown> moved = std::move(owner);
        EXPECT_FALSE(owner);
        EXPECT_EQ(moved.get(), &object);
        EXPECT_EQ(object.references, 1);

        com_ptr<IUnknown> same;
        EXPECT_EQ(moved.query(same), S_OK);
        EXPECT_EQ(same.get(), &object);
        EXPECT_EQ(object.references, 2);

        com_ptr<IPersistFile> missing;
        EXPECT_EQ(moved.query(missing), E_NOINTERFACE);
        EXPECT_FALSE(missing);
    }
    EXPECT_EQ(object.references, 0);
}

TEST(throw_hresult, raises_the_hresult_in_the_system_category)
{
    try {
        throw_hresult(E_POINTER, "test");
        FAIL() << "nothing was raised";
    }
    catch (const std::system_error& error) {
        EXPECT_EQ(error.code().category(), std::system_category());
        EXPECT_EQ(static_cast<HRESULT>(error.code().value()), E_POINTER);
    }
}
