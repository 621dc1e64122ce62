// Reading of the decimal numbers that the application and the library hand in as text, where
// both "." and "," serve as the decimal separator.
#pragma once

#include <cctype>
#include <charconv>
#include <optional>
#include <string>
#include <string_view>

namespace kelvora::tef {

// The number a text holds: blanks around it are ignored, every "." and "," is the decimal
// separator, and the rest must be an optional sign, digits with at most one separator, and an
// optional exponent. Nothing for any other text ("abc", "1,234,5", "", "inf").
inline std::optional<double> LeNumeroDecimal(std::string_view texto) {
  auto branco = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!texto.empty() && branco(texto.front())) texto.remove_prefix(1);
  while (!texto.empty() && branco(texto.back())) texto.remove_suffix(1);

  std::string numero;
  size_t i = 0;
  auto digitos = [&] {
    size_t n = 0;
    for (; i < texto.size() && std::isdigit(static_cast<unsigned char>(texto[i])); ++i, ++n) {
      numero += texto[i];
    }
    return n;
  };
  if (i < texto.size() && (texto[i] == '+' || texto[i] == '-')) {
    if (texto[i] == '-') numero += '-';
    ++i;
  }
  size_t total = digitos();
  if (i < texto.size() && (texto[i] == '.' || texto[i] == ',')) {
    numero += '.';
    ++i;
    total += digitos();
  }
  if (total == 0) return std::nullopt;
  if (i < texto.size() && (texto[i] == 'e' || texto[i] == 'E')) {
    numero += texto[i++];
    if (i < texto.size() && (texto[i] == '+' || texto[i] == '-')) numero += texto[i++];
    if (digitos() == 0) return std::nullopt;
  }
  if (i != texto.size()) return std::nullopt;
  // from_chars reads with "." whatever the process's locale says.
  double valor = 0;
  std::from_chars(numero.data(), numero.data() + numero.size(), valor);
  return valor;
}

}  // namespace kelvora::tef
