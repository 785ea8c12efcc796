// Anchor of the updater's window library; the window and the update run live in their own files.
namespace updater {}
