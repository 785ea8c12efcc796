// Anchor of the scheduler's window library.
namespace ui {}
