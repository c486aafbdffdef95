// What the Console's information, settings and module-view windows share:
// the texts the agent sent (with English defaults), a window whose title
// follows the product name, whose Escape key closes it, and labels that show
// text as text (markup in it is never interpreted).
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <string>

#include "protocol/console_protocol.h"

namespace wardex::console {

class ConsoleTexts {
 public:
  void Set(const SetTexts& texts);
  const std::string& product_name() const { return product_name_; }
  // The agent's text for |key|, else |fallback|.
  std::string Get(const char* key, const char* fallback) const;

 private:
  std::string product_name_;
  std::map<std::string, std::string> texts_;
};

// A window titled "<product name> - <text of title_key>"; Escape and the
// window's action "page.close" close it. Returns its content box.
GtkWidget* NewPageWindow(GtkApplication* application, const ConsoleTexts& texts,
                         const char* title_key, const char* title_fallback, GtkWindow** window);
// Gives every open page window the title that |texts| make now.
void RetitlePageWindows(GtkApplication* application, const ConsoleTexts& texts);
// A wrapping label showing |text| as plain text.
GtkWidget* PlainLabel(const std::string& text);
// A row of buttons at the end of |content|.
GtkWidget* ButtonRow(GtkWidget* content);
// Appends a heading in |css_class| and a grid of facts below it to |box|.
GtkGrid* AppendFactGrid(GtkWidget* box, const std::string& heading, const char* css_class);
// Puts |name| (dimmed) and |value| on |row| of |grid|; returns the value's label.
GtkWidget* AttachFact(GtkGrid* grid, int row, const std::string& name, const std::string& value);
// |button| is the default (Enter presses it), has the focus and looks it.
void MakeDefaultButton(GtkWindow* window, GtkWidget* button);

}  // namespace wardex::console
