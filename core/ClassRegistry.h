#pragma once
// The class registry: class name -> class information (parent, factory, published
// properties, custom entries). Layers register their classes explicitly from a
// `RegisterXxxClasses()` function (static libraries drop unreferenced static initialisers):
//
//   void RegisterDataAccessClasses() {
//     static const bool done = [] {
//       RegisterCoreClasses();
//       Register<TMSTable, TCustomMSDataSet>("TMSTable")
//           .String("TableName", &TMSTable::TableName, &TMSTable::SetTableName)
//           .Component<TMSConnection>("Connection", &TMSTable::Connection,
//                                     &TMSTable::SetConnection);
//       return true;
//     }();
//     (void)done;
//   }
//
// A class is registered after its parent. Registering a class a second time changes
// nothing (the first registration stands), so registration functions may be called again.
// Registration happens at start-up on one thread, before any description is read.

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeindex>
#include <typeinfo>

#include "core/Collection.h"
#include "core/Component.h"
#include "core/Persistent.h"
#include "core/TypInfo.h"

namespace bunkmere {

class TClassRegistry {
 public:
  // Letter case ignored; nullptr when the class is unknown.
  static const TClassInfo* FindClass(std::string_view AName);
  static const TClassInfo* FindClass(std::type_index AType);
  // The information of AObject's class, or of its nearest registered ancestor; nullptr when
  // no ancestor is registered.
  static const TClassInfo* ClassOf(const TPersistent& AObject);

  // Used by the builder: installs a finished class unless its type is already registered.
  static void Install(std::unique_ptr<TClassInfo> AInfo, std::type_index AParent,
                      std::vector<TPropInfo> AOwnProperties, std::vector<TCustomEntry> AOwnEntries);
  static bool IsRegistered(std::type_index AType);

  static std::unique_ptr<TClassInfo> NewInfo(std::string AName, std::type_index AType,
                                             std::function<bool(const TPersistent&)> AIsInstance,
                                             TComponentFactory AFactory);
};

// TPersistent and TComponent themselves (TComponent publishes Name, never stored as an
// entry: the block header carries it). Idempotent.
void RegisterCoreClasses();

namespace detail {

template <class T, class G>
decltype(auto) Get(const G& AGet, const TPersistent& AObject) {
  // Getters are usually const members; non-const ones are accepted too, since reading a
  // property does not change the object.
  T& obj = const_cast<T&>(static_cast<const T&>(AObject));
  return std::invoke(AGet, obj);
}

template <class T, class V, class S, class A>
void Set(const S& ASet, TPersistent& AObject, A&& AValue) {
  T& obj = static_cast<T&>(AObject);
  if constexpr (std::is_member_object_pointer_v<S>)
    obj.*ASet = static_cast<V>(std::forward<A>(AValue));
  else
    std::invoke(ASet, obj, static_cast<V>(std::forward<A>(AValue)));
}

template <class T, class G>
using GetResult = std::remove_cvref_t<std::invoke_result_t<const G&, T&>>;

template <class P>
auto* AsPointer(P&& AValue) {
  if constexpr (std::is_pointer_v<std::remove_cvref_t<P>>)
    return AValue;
  else
    return &AValue;
}

}  // namespace detail

// Builds one class's information; the class is installed when the builder goes out of scope
// (at the end of the registration statement). Property modifiers (Default, Stored, Idents)
// apply to the property added last.
template <class T>
class TClassBuilder {
 public:
  TClassBuilder(std::unique_ptr<TClassInfo> AInfo, std::type_index AParent)
      : FInfo(std::move(AInfo)), FParent(AParent) {}
  TClassBuilder(const TClassBuilder&) = delete;
  TClassBuilder& operator=(const TClassBuilder&) = delete;
  ~TClassBuilder() {
    if (FInfo)
      TClassRegistry::Install(std::move(FInfo), FParent, std::move(FProps), std::move(FEntries));
  }

  // A setter may be a member function, a data member pointer, a callable taking (T&, value),
  // or nullptr for a read-only property. A getter may be a member function, a data member
  // pointer or a callable taking (T&).
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Integer(std::string AName, G AGet, S ASet = nullptr) {
    return Ordinal(std::move(AName), TPropKind::pkInteger, nullptr, AGet, ASet);
  }
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Boolean(std::string AName, G AGet, S ASet = nullptr) {
    return Ordinal(std::move(AName), TPropKind::pkBoolean, nullptr, AGet, ASet);
  }
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Enum(std::string AName, const TEnumType& AType, G AGet, S ASet = nullptr) {
    return Ordinal(std::move(AName), TPropKind::pkEnum, &AType, AGet, ASet);
  }
  // The value is a bit mask: bit N stands for member N of AType.
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Set(std::string AName, const TEnumType& AType, G AGet, S ASet = nullptr) {
    return Ordinal(std::move(AName), TPropKind::pkSet, &AType, AGet, ASet);
  }

  template <class G, class S = std::nullptr_t>
  TClassBuilder& String(std::string AName, G AGet, S ASet = nullptr) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkString);
    p.GetString = [AGet](const TPersistent& o) { return std::string(detail::Get<T>(AGet, o)); };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetString = [ASet](TPersistent& o, const std::string& v) {
        detail::Set<T, std::string>(ASet, o, v);
      };
    return *this;
  }

  // An identifier kept as text (an event handler's name); empty is not stored.
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Ident(std::string AName, G AGet, S ASet = nullptr) {
    String(std::move(AName), AGet, ASet);
    FProps.back().Kind = TPropKind::pkIdent;
    return *this;
  }

  template <class G, class S = std::nullptr_t>
  TClassBuilder& Float(std::string AName, G AGet, S ASet = nullptr) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkFloat);
    p.GetFloat = [AGet](const TPersistent& o) {
      return static_cast<double>(detail::Get<T>(AGet, o));
    };
    if constexpr (!std::is_null_pointer_v<S>) {
      using V = detail::GetResult<T, G>;
      p.SetFloat = [ASet](TPersistent& o, double v) { detail::Set<T, V>(ASet, o, v); };
    }
    return *this;
  }

  // A reference to a component of class R (or a descendant); the setter receives R*.
  template <class R, class G, class S = std::nullptr_t>
  TClassBuilder& Component(std::string AName, G AGet, S ASet = nullptr) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkComponent);
    p.RequiredType = typeid(R);
    p.AcceptsComponent = [](const TComponent* c) { return dynamic_cast<const R*>(c) != nullptr; };
    p.GetComponent = [AGet](const TPersistent& o) -> TComponent* {
      return detail::Get<T>(AGet, o);
    };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetComponent = [ASet](TPersistent& o, TComponent* c) {
        detail::Set<T, R*>(ASet, o, dynamic_cast<R*>(c));
      };
    return *this;
  }

  // A nested persistent object that the instance keeps for its whole life (an options
  // object); the getter returns a pointer or a reference to it.
  template <class G>
  TClassBuilder& Object(std::string AName, G AGet) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkClass);
    p.GetObject = [AGet](const TPersistent& o) -> TPersistent* {
      return detail::AsPointer(detail::Get<T>(AGet, o));
    };
    return *this;
  }

  template <class G>
  TClassBuilder& Collection(std::string AName, G AGet) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkCollection);
    p.GetCollection = [AGet](const TPersistent& o) -> TCollection* {
      return detail::AsPointer(detail::Get<T>(AGet, o));
    };
    return *this;
  }

  // Lines of text (getter returns a std::vector<std::string>, setter takes one).
  template <class G, class S = std::nullptr_t>
  TClassBuilder& Lines(std::string AName, G AGet, S ASet = nullptr) {
    TPropInfo& p = Add(std::move(AName), TPropKind::pkLines);
    p.GetLines = [AGet](const TPersistent& o) {
      return std::vector<std::string>(detail::Get<T>(AGet, o));
    };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetLines = [ASet](TPersistent& o, const std::vector<std::string>& v) {
        detail::Set<T, std::vector<std::string>>(ASet, o, v);
      };
    return *this;
  }

  // An entry the class reads and writes itself (see TCustomEntry). AShouldWrite decides
  // whether the writer emits it.
  template <class R, class W, class P>
  TClassBuilder& Custom(std::string AName, R ARead, W AWrite, P AShouldWrite) {
    TCustomEntry e;
    e.Name = std::move(AName);
    e.Read = [ARead](TPersistent& o, TReader& r) { std::invoke(ARead, static_cast<T&>(o), r); };
    e.Write = [AWrite](const TPersistent& o, TWriter& w) {
      std::invoke(AWrite, static_cast<const T&>(o), w);
    };
    e.ShouldWrite = [AShouldWrite](const TPersistent& o) {
      return static_cast<bool>(std::invoke(AShouldWrite, static_cast<const T&>(o)));
    };
    FEntries.push_back(std::move(e));
    return *this;
  }

  // Modifiers of the property added last.
  template <class V>
  TClassBuilder& Default(V AValue) {
    TPropInfo& p = Last();
    if constexpr (std::is_enum_v<V> || std::is_integral_v<V>) {
      if (p.Kind == TPropKind::pkFloat)
        p.FloatDefault = static_cast<double>(AValue);
      else
        p.OrdinalDefault = static_cast<std::int64_t>(AValue);
    } else if constexpr (std::is_floating_point_v<V>) {
      p.FloatDefault = AValue;
    } else {
      p.StringDefault = std::string(AValue);
    }
    return *this;
  }
  // A predicate on the instance (T const&), or a constant: Stored(false) never stores it.
  template <class P>
  TClassBuilder& Stored(P APredicate) {
    if constexpr (std::is_same_v<P, bool>)
      Last().Stored = [APredicate](const TPersistent&) { return APredicate; };
    else
      Last().Stored = [APredicate](const TPersistent& o) {
        return static_cast<bool>(std::invoke(APredicate, static_cast<const T&>(o)));
      };
    return *this;
  }
  // Identifiers that stand for values of the last (integer) property; keep AMap static.
  TClassBuilder& Idents(const TIdentMap& AMap) {
    Last().Idents = &AMap;
    return *this;
  }

 private:
  template <class G, class S>
  TClassBuilder& Ordinal(std::string AName, TPropKind AKind, const TEnumType* AType, G AGet,
                         S ASet) {
    using V = detail::GetResult<T, G>;
    TPropInfo& p = Add(std::move(AName), AKind);
    p.EnumType = AType;
    if constexpr (std::is_integral_v<V> && !std::is_same_v<V, bool>) {
      if constexpr (std::numeric_limits<V>::min() > INT64_MIN)
        p.MinValue = static_cast<std::int64_t>(std::numeric_limits<V>::min());
      if constexpr (std::numeric_limits<V>::max() < static_cast<std::uint64_t>(INT64_MAX))
        p.MaxValue = static_cast<std::int64_t>(std::numeric_limits<V>::max());
    }
    p.GetOrdinal = [AGet](const TPersistent& o) {
      return static_cast<std::int64_t>(detail::Get<T>(AGet, o));
    };
    if constexpr (!std::is_null_pointer_v<S>)
      p.SetOrdinal = [ASet](TPersistent& o, std::int64_t v) {
        if constexpr (std::is_same_v<V, bool>)
          detail::Set<T, V>(ASet, o, v != 0);
        else
          detail::Set<T, V>(ASet, o, v);
      };
    return *this;
  }
  TPropInfo& Add(std::string AName, TPropKind AKind) {
    FProps.emplace_back();
    FProps.back().Name = std::move(AName);
    FProps.back().Kind = AKind;
    return FProps.back();
  }
  TPropInfo& Last() {
    if (FProps.empty()) throw std::logic_error("a property modifier needs a property first");
    return FProps.back();
  }

  std::unique_ptr<TClassInfo> FInfo;  // null when the class was registered before
  std::type_index FParent;
  std::vector<TPropInfo> FProps;
  std::vector<TCustomEntry> FEntries;
};

// Registers T, a descendant of TBase, under AName. A T derived from TComponent and
// constructible from its owner gets a factory, so descriptions can create it.
template <class T, class TBase>
TClassBuilder<T> Register(std::string AName) {
  static_assert(std::is_base_of_v<TPersistent, T> && std::is_base_of_v<TBase, T>);
  if (TClassRegistry::IsRegistered(typeid(T))) return TClassBuilder<T>(nullptr, typeid(TBase));
  TComponentFactory factory;
  if constexpr (std::is_base_of_v<TComponent, T> && std::is_constructible_v<T, TComponent*> &&
                !std::is_abstract_v<T>)
    factory = [](TComponent* AOwner) -> TComponent* { return new T(AOwner); };
  auto isInstance = [](const TPersistent& o) { return dynamic_cast<const T*>(&o) != nullptr; };
  return TClassBuilder<T>(
      TClassRegistry::NewInfo(std::move(AName), typeid(T), isInstance, std::move(factory)),
      typeid(TBase));
}

}  // namespace bunkmere
