// Mints the session token a sales system's back end hands to its point-of-sale page: a compact JWS
// (HS256) signed with the installation's [security] jwt_secret, which the Kelvora TEF Server checks
// at "/session/start". Java's standard library only.
//
//   javac -d classes *.java
//   KELVORA_JWT_SECRET=... java -cp classes SessionToken [--ttl SECONDS] name=value...
//
// prints a token for the given claims; without --ttl it expires ten minutes after it is made.
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.util.Base64;
import java.util.LinkedHashMap;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import javax.crypto.Mac;
import javax.crypto.spec.SecretKeySpec;

public final class SessionToken {
  // The claims the service requires; it reads each one as text.
  public static final List<String> REQUIRED_CLAIMS = List.of(
      "secctional_code", "ip_address", "store_code", "additional_parameters",
      "operator", "sale_id", "company_id", "callback_url");
  // The page presents its token right after it loads; a short life leaves little use to a copy.
  public static final long DEFAULT_TTL_SECONDS = 600;
  public static final long MAX_TTL_SECONDS = 12 * 60 * 60;
  // The service refuses a claim longer than 2 KiB and a token longer than 16 KiB.
  private static final int MAX_CLAIM_BYTES = 2048;
  private static final int MAX_TOKEN_LENGTH = 16 * 1024;
  private static final long INT32_MAX = 2147483647L;
  private static final Pattern SECRET = Pattern.compile("[A-Za-z0-9]{32}");
  private static final Pattern DECIMAL = Pattern.compile("[0-9]{1,10}");
  private static final Pattern CALLBACK_URL = Pattern.compile("https?://[^\\s/?#@]+(/[^\\s?#]*)?");

  private SessionToken() {}

  // Throws unless the key can be the service's: 32 ASCII letters and digits, used as the HMAC key
  // as they are.
  public static void checkSecret(String secret) {
    if (secret == null || !SECRET.matcher(secret).matches()) {
      throw new IllegalArgumentException("the key must be 32 ASCII letters and digits");
    }
  }

  private static void checkInteger(Map<String, String> claims, String name, long min) {
    String text = claims.get(name);
    if (!DECIMAL.matcher(text).matches() || Long.parseLong(text) < min || Long.parseLong(text) > INT32_MAX) {
      throw new IllegalArgumentException(
          "claim \"" + name + "\" must be an integer from " + min + " to " + INT32_MAX);
    }
  }

  // Throws with the reason for a claim set the service would refuse: a required claim missing, any
  // claim over 2 KiB, a sale or company id that is not a decimal integer (the sale's above 0), a
  // callback address that is not http or https with a host and nothing after a "?", "#" or "@".
  public static void checkClaims(Map<String, String> claims) {
    for (String name : REQUIRED_CLAIMS) {
      if (claims.get(name) == null) throw new IllegalArgumentException("missing claim \"" + name + "\"");
    }
    for (Map.Entry<String, String> claim : claims.entrySet()) {
      if (claim.getValue() == null) throw new IllegalArgumentException("claim \"" + claim.getKey() + "\" must be text");
      if (claim.getValue().getBytes(StandardCharsets.UTF_8).length > MAX_CLAIM_BYTES) {
        throw new IllegalArgumentException("claim \"" + claim.getKey() + "\" is over 2 KiB");
      }
    }
    checkInteger(claims, "sale_id", 1);
    checkInteger(claims, "company_id", 0);
    if (!CALLBACK_URL.matcher(claims.get("callback_url")).matches()) {
      throw new IllegalArgumentException("claim \"callback_url\" must be an http or https address");
    }
  }

  // A JSON string: Java has no JSON writer of its own, and these are the escapes JSON demands.
  static String jsonString(String text) {
    StringBuilder out = new StringBuilder("\"");
    for (char c : text.toCharArray()) {
      if (c == '"' || c == '\\') {
        out.append('\\').append(c);
      } else if (c < 0x20) {
        out.append(String.format("\\u%04x", (int) c));
      } else {
        out.append(c);
      }
    }
    return out.append('"').toString();
  }

  private static String base64url(byte[] bytes) {
    return Base64.getUrlEncoder().withoutPadding().encodeToString(bytes);
  }

  static byte[] hmacSha256(String secret, byte[] data) {
    try {
      Mac mac = Mac.getInstance("HmacSHA256");
      mac.init(new SecretKeySpec(secret.getBytes(StandardCharsets.US_ASCII), "HmacSHA256"));
      return mac.doFinal(data);
    } catch (GeneralSecurityException e) {
      throw new IllegalStateException("HMAC-SHA-256 is not available", e);
    }
  }

  // The token for claims (texts), expiring ttlSeconds after nowSeconds. No "nbf": a till whose
  // clock lags the back end's would refuse a token that is not valid yet.
  public static String mint(Map<String, String> claims, String secret, long ttlSeconds, long nowSeconds) {
    checkSecret(secret);
    checkClaims(claims);
    if (ttlSeconds < 1 || ttlSeconds > MAX_TTL_SECONDS) {
      throw new IllegalArgumentException("the lifetime must be 1 to " + MAX_TTL_SECONDS + " seconds");
    }
    StringBuilder payload = new StringBuilder("{");
    for (Map.Entry<String, String> claim : claims.entrySet()) {
      if (claim.getKey().equals("exp")) continue;
      payload.append(jsonString(claim.getKey())).append(':').append(jsonString(claim.getValue())).append(',');
    }
    payload.append("\"exp\":").append(nowSeconds + ttlSeconds).append('}');
    String signingInput = base64url("{\"alg\":\"HS256\",\"typ\":\"JWT\"}".getBytes(StandardCharsets.UTF_8))
        + "." + base64url(payload.toString().getBytes(StandardCharsets.UTF_8));
    String token = signingInput + "." + base64url(hmacSha256(secret, signingInput.getBytes(StandardCharsets.US_ASCII)));
    if (token.length() > MAX_TOKEN_LENGTH) throw new IllegalArgumentException("the token is over 16 KiB");
    return token;
  }

  public static String mint(Map<String, String> claims, String secret, long ttlSeconds) {
    return mint(claims, secret, ttlSeconds, System.currentTimeMillis() / 1000);
  }

  // The command line: --ttl SECONDS and name=value claims; the key from KELVORA_JWT_SECRET, so that
  // it never shows in the process list.
  public static void main(String[] args) {
    try {
      Map<String, String> claims = new LinkedHashMap<>();
      long ttlSeconds = DEFAULT_TTL_SECONDS;
      for (int i = 0; i < args.length; i++) {
        if (args[i].equals("--ttl")) {
          String value = i + 1 < args.length ? args[++i] : "";
          ttlSeconds = value.matches("[0-9]{1,6}") ? Long.parseLong(value) : -1;
        } else if (args[i].contains("=")) {
          int at = args[i].indexOf('=');
          claims.put(args[i].substring(0, at), args[i].substring(at + 1));
        } else {
          throw new IllegalArgumentException("unknown argument: " + args[i]);
        }
      }
      System.out.println(mint(claims, System.getenv("KELVORA_JWT_SECRET"), ttlSeconds));
    } catch (IllegalArgumentException e) {
      System.err.println("session-token: " + e.getMessage());
      System.exit(2);
    }
  }
}
