#pragma once
// Makes the window's classes known to stored descriptions: TFont, TControl, TLabel, TButton,
// TProgressBar, TMemo and TForm with their published properties. Idempotent.

namespace bunkmere {

void RegisterControlClasses();

}  // namespace bunkmere
