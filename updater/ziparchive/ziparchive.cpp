// Anchor of the archive engine library; the engine lives in its own files.
namespace ziparchive {}
