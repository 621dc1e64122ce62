// An owning list of component objects (instalments, pending responses, gateways): removing or
// clearing an item destroys it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kelvora::tef {

template <class T>
class TKoCliSiTefObjectList {
 public:
  TKoCliSiTefObjectList() = default;
  TKoCliSiTefObjectList(const TKoCliSiTefObjectList&) = delete;
  TKoCliSiTefObjectList& operator=(const TKoCliSiTefObjectList&) = delete;
  virtual ~TKoCliSiTefObjectList() = default;

  // Appends an object and returns its position. An empty pointer is refused, so every position
  // always holds an object.
  int Add(std::unique_ptr<T> obj) {
    items_.push_back(Checked(std::move(obj)));
    return Count() - 1;
  }

  // Inserts an object before position index (index == Count appends).
  void Insert(int index, std::unique_ptr<T> obj) {
    if (index < 0 || index > Count()) OutOfBounds(index);
    items_.insert(items_.begin() + index, Checked(std::move(obj)));
  }

  // The object at a position (Objects[Index]); throws std::out_of_range outside the list.
  T& GetObject(int index) const {
    if (index < 0 || index >= Count()) OutOfBounds(index);
    return *items_[static_cast<size_t>(index)];
  }

  // Replaces the object at a position, destroying the one it held.
  void SetObject(int index, std::unique_ptr<T> obj) {
    if (index < 0 || index >= Count()) OutOfBounds(index);
    items_[static_cast<size_t>(index)] = Checked(std::move(obj));
  }

  void Delete(int index) {
    if (index < 0 || index >= Count()) OutOfBounds(index);
    items_.erase(items_.begin() + index);
  }

  void Clear() { items_.clear(); }
  int Count() const { return static_cast<int>(items_.size()); }

 private:
  [[noreturn]] static void OutOfBounds(int index) {
    throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
  }
  static std::unique_ptr<T> Checked(std::unique_ptr<T> obj) {
    if (!obj) throw std::invalid_argument("An object list cannot hold an empty item");
    return obj;
  }

  std::vector<std::unique_ptr<T>> items_;
};

}  // namespace kelvora::tef
