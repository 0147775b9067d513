#include "extension/iterator/prices_iterator.h"

#include "core/texts/caller_texts.h"
#include "extension/binding/borrow_guard.h"
#include "extension/binding/errors.h"
#include "extension/binding/heap_type.h"
#include "extension/binding/instance.h"
#include "extension/iterator/iterator_step.h"

namespace quorvane::input {
namespace {

PricesIterator& iterator_of(PyObject* self) noexcept { return binding::value_of<PricesIterator>(self); }

PyObject* iter(PyObject* self) noexcept {
    return binding::boundary<PyObject*>(nullptr, [&] {
        binding::SharedBorrow borrow(iterator_of(self).borrow_flag);
        return Py_NewRef(self);
    });
}

Py_ssize_t length(PyObject* self) noexcept {
    return binding::boundary<Py_ssize_t>(-1, [&] {
        PricesIterator& it = iterator_of(self);
        binding::SharedBorrow borrow(it.borrow_flag);
        return static_cast<Py_ssize_t>(it.messages.size());
    });
}

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Iterator that yields MarketBook objects with object reuse")},
    {Py_tp_new, reinterpret_cast<void*>(&binding::no_constructor)},
    {Py_tp_dealloc, reinterpret_cast<void*>(&binding::dealloc<PricesIterator>)},
    {Py_tp_iter, reinterpret_cast<void*>(&iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(&iterator_step)},
    {Py_mp_length, reinterpret_cast<void*>(&length)},
    {0, nullptr},
};

constexpr texts::TypeName type_name("PricesIterator");

PyType_Spec spec = {
    type_name.text,
    sizeof(binding::Instance<PricesIterator>),
    0,
    Py_TPFLAGS_DEFAULT,
    slots,
};

binding::HeapType type(spec);

}  // namespace

PyTypeObject* prices_iterator_type() { return type.get(); }

binding::PyRef new_prices_iterator(cache::StoredMessages messages) {
    return binding::create<PricesIterator>(prices_iterator_type(), std::move(messages));
}

}  // namespace quorvane::input
