// What the Console's information, settings and module-view windows share:
// the texts the agent sent (with English defaults), a window whose title
// follows the product name, whose Escape key closes it, and labels that show
// text as text (markup in it is never interpreted).
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "console_texts.h"
#include "protocol/console_protocol.h"

namespace wardex::console {

// A window titled "<product name> - <text of title_key>"; Escape and the
// window's action "page.close" close it. Returns its content box.
GtkWidget* NewPageWindow(GtkApplication* application, const ConsoleTexts& texts,
                         const char* title_key, const char* title_fallback, GtkWindow** window);
// The padded box that holds a window's content.
GtkWidget* WindowContent(GtkWindow* window);
// Gives every open page window the title that |texts| make now.
void RetitlePageWindows(GtkApplication* application, const ConsoleTexts& texts);
// The wrapping width of a text that spans a window.
inline constexpr int kParagraphChars = 60;
// A label showing |text| as plain text. With |wrap_chars| it wraps at that
// many characters: a wrapping label without a width makes GTK size its
// window for one word per line.
GtkWidget* PlainLabel(const std::string& text, int wrap_chars = 0);
// A row of buttons at the end of |content|, wrapped into lines when there
// are many.
GtkWidget* ButtonRow(GtkWidget* content);
// Adds a button titled |title| to |row|; a long title is cut and shown
// whole as the tooltip.
GtkWidget* AddButton(GtkWidget* row, const std::string& title);
// |child| in a scroller that grows with it up to |max_height|.
GtkWidget* ScrollingUpTo(int max_height, GtkWidget* child);
// Appends a heading in |css_class|, beside the application's icon when
// |with_icon|, and a grid of facts below it to |box|.
GtkGrid* AppendFactGrid(GtkWidget* box, const std::string& heading, const char* css_class,
                        bool with_icon = false);
// Puts |name| (dimmed) and |value| on |row| of |grid|; returns the value's label.
GtkWidget* AttachFact(GtkGrid* grid, int row, const std::string& name, const std::string& value);
// A check box whose title wraps.
GtkWidget* CheckBox(const std::string& title, bool active);
// |button| is the default (Enter presses it), has the focus and looks it.
void MakeDefaultButton(GtkWindow* window, GtkWidget* button);

}  // namespace wardex::console
