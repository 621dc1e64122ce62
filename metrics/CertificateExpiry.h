// When a certificate stops being valid, for the alert that asks for a new one in time.
#pragma once

#include <filesystem>
#include <optional>

namespace kelvora::metrics {

// The notAfter of the first certificate in a PEM file, in seconds since 1970; empty when the file
// cannot be read or holds no certificate.
std::optional<double> CertificateNotAfter(const std::filesystem::path& pemFile);

}  // namespace kelvora::metrics
