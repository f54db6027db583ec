// Reference counting in the shape the browser runtime's objects have: every runtime object is
// counted, handed around as CefRefPtr, and deleted when its last holder lets go, on whatever
// thread that happens.
#pragma once

#include <QString>

#include <atomic>
#include <cstdint>
#include <utility>

using CefString = QString;
using int64 = std::int64_t;

class CefBaseRefCounted {
public:
    void AddRef() const { m_refs.fetch_add(1, std::memory_order_relaxed); }
    bool Release() const
    {
        if (m_refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
            return true;
        }
        return false;
    }
    bool HasOneRef() const { return m_refs.load(std::memory_order_acquire) == 1; }

protected:
    CefBaseRefCounted() = default;
    virtual ~CefBaseRefCounted() = default;
    CefBaseRefCounted(const CefBaseRefCounted &) = delete;
    CefBaseRefCounted &operator=(const CefBaseRefCounted &) = delete;

private:
    mutable std::atomic<int> m_refs{0};
};

template <class T>
class CefRefPtr {
public:
    CefRefPtr() = default;
    CefRefPtr(std::nullptr_t) {}
    CefRefPtr(T *p) : m_ptr(p) { if (m_ptr) m_ptr->AddRef(); }
    CefRefPtr(const CefRefPtr &o) : CefRefPtr(o.m_ptr) {}
    template <class U>
    CefRefPtr(const CefRefPtr<U> &o) : CefRefPtr(o.get()) {}
    CefRefPtr(CefRefPtr &&o) noexcept : m_ptr(std::exchange(o.m_ptr, nullptr)) {}
    ~CefRefPtr() { if (m_ptr) m_ptr->Release(); }

    CefRefPtr &operator=(CefRefPtr o) noexcept
    {
        std::swap(m_ptr, o.m_ptr);
        return *this;
    }

    T *get() const { return m_ptr; }
    T *operator->() const { return m_ptr; }
    T &operator*() const { return *m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }
    bool operator==(const CefRefPtr &o) const { return m_ptr == o.m_ptr; }
    bool operator!=(const CefRefPtr &o) const { return m_ptr != o.m_ptr; }

private:
    T *m_ptr = nullptr;
};
