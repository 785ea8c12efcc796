// Anchor of the platform library; the facilities live in their own files.
namespace platform {}
