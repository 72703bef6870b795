#pragma once
// TPersistent: the base of every object whose published properties can be stored in and read
// from a stored description: components, and the option objects they own (a connection's
// `Options`, a control's `Font`, collections and their items).

namespace bunkmere {

class TPersistent {
 public:
  TPersistent() = default;
  virtual ~TPersistent() = default;
  TPersistent(const TPersistent&) = delete;
  TPersistent& operator=(const TPersistent&) = delete;

  // The class name as stored descriptions and messages spell it. A registered class whose
  // dynamic type cannot be found in the registry is looked up by this name instead, so a
  // subclass that does not override it is treated as its nearest registered ancestor.
  virtual const char* ClassName() const noexcept { return "TPersistent"; }
};

}  // namespace bunkmere
