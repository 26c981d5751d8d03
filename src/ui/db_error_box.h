// The status table's error box in the window: a modal warning owned by the active window,
// shown on the UI thread. A reporting thread that raises it waits until the operator has
// closed it, as it always did; on the UI thread the box is shown directly.
#pragma once

namespace gsms {

// Installs the box as the table class's error hook. Needs the application object.
void installDbErrorBox();

}  // namespace gsms
