// Checks a report of an approved payment from the Kelvora TEF Server before the sales system trusts
// it: the v2 of the Kelvora-Signature header ("t=<unix seconds>,v1=<hex>,v2=<hex>") must be the
// HMAC-SHA-256 of "<t>.<event id>.<request path>.<exact bytes received>" under the report key, and
// t at most five minutes away from now; Kelvora-Event-Id names the report, the same on every retry
// of it, and the payment is known again by its "nsu_code". Java's standard library only.
import java.nio.charset.StandardCharsets;
import java.security.GeneralSecurityException;
import java.security.MessageDigest;
import java.util.ArrayList;
import java.util.HashMap;
import java.util.HexFormat;
import java.util.List;
import java.util.Map;
import java.util.regex.Pattern;
import javax.crypto.Mac;
import javax.crypto.spec.SecretKeySpec;

public final class CallbackVerifier {
  // How far the signing time may be from the receiver's clock, either way.
  public static final long TOLERANCE_SECONDS = 5 * 60;

  // The reasons for a refusal, as the receiver answers them (the service logs them).
  public static final String NO_SIGNATURE = "Cabeçalho Kelvora-Signature ausente.";
  public static final String BAD_SIGNATURE_HEADER = "Cabeçalho Kelvora-Signature malformado.";
  public static final String BAD_EVENT_ID = "Cabeçalho Kelvora-Event-Id ausente ou inválido.";
  public static final String MISMATCH = "Assinatura não confere.";
  public static final String OUTSIDE_TOLERANCE = "Assinatura fora da tolerância de 5 minutos.";

  // The text whose HMAC under jwt_secret is the report key of a service without a signing_secret.
  public static final String REPORT_KEY_LABEL = "kelvora sales-api report signature v2";

  private static final Pattern SIGNING_SECRET = Pattern.compile("[\\x21-\\x7e]{32,128}");
  private static final Pattern TIME = Pattern.compile("[0-9]{1,15}");
  private static final Pattern HEX_SIGNATURE = Pattern.compile("[0-9a-fA-F]{64}");
  private static final Pattern EVENT_ID = Pattern.compile("[A-Za-z0-9._-]{1,64}");

  private CallbackVerifier() {}

  static byte[] hmacSha256(byte[] key, byte[] data) {
    try {
      Mac mac = Mac.getInstance("HmacSHA256");
      mac.init(new SecretKeySpec(key, "HmacSHA256"));
      return mac.doFinal(data);
    } catch (GeneralSecurityException e) {
      throw new IllegalStateException("HMAC-SHA-256 is not available", e);
    }
  }

  // The key v2 is checked with: the bytes of the service's [sales_api] signing_secret when it has
  // one (32 to 128 visible ASCII characters), else the 32 raw bytes of HMAC-SHA-256 of
  // REPORT_KEY_LABEL under its [security] jwt_secret. Throws IllegalArgumentException for a key the
  // service could not have. The report key verifies reports but mints no session token.
  public static byte[] reportKey(String signingSecret, String jwtSecret) {
    if (signingSecret != null && !signingSecret.isEmpty()) {
      if (!SIGNING_SECRET.matcher(signingSecret).matches()) {
        throw new IllegalArgumentException("the signing secret must be 32 to 128 visible ASCII characters");
      }
      return signingSecret.getBytes(StandardCharsets.US_ASCII);
    }
    SessionToken.checkSecret(jwtSecret);
    return SessionToken.hmacSha256(jwtSecret, REPORT_KEY_LABEL.getBytes(StandardCharsets.US_ASCII));
  }

  // The time (as signed) and the v2 signatures of a Kelvora-Signature header.
  record Signature(String time, List<byte[]> signatures) {}

  // The parts of a Kelvora-Signature header, or null when it is not one: exactly one "t" of decimal
  // digits, one or more "v2" of 64 hex digits, any "v1" of 64 hex digits (v1 covers neither the
  // event id nor the address, so it is not checked here); other schemes are left for later
  // versions to use.
  static Signature parseSignatureHeader(String header) {
    String time = null;
    List<byte[]> signatures = new ArrayList<>();
    for (String item : header.split(",", -1)) {
      int at = item.indexOf('=');
      if (at < 0) return null;
      String key = item.substring(0, at);
      String value = item.substring(at + 1);
      if (key.equals("t")) {
        if (time != null || !TIME.matcher(value).matches()) return null;
        time = value;
      } else if (key.equals("v1") || key.equals("v2")) {
        if (!HEX_SIGNATURE.matcher(value).matches()) return null;
        if (key.equals("v2")) signatures.add(HexFormat.of().parseHex(value));
      }
    }
    return time != null && !signatures.isEmpty() ? new Signature(time, signatures) : null;
  }

  // An event id as the service makes them: 1 to 64 letters, digits, "-", "_" and ".".
  public static boolean isValidEventId(String eventId) {
    return eventId != null && EVENT_ID.matcher(eventId).matches();
  }

  // The refusal reason for a report, or null when its signature is good. rawBody is the bytes
  // received, before any parsing: a receiver that parsed and wrote them again would sign other
  // bytes than the service did. requestPath is the raw path of the request line as received (no
  // query), token segment included: a report posted to another address does not match.
  public static String check(
      byte[] key, byte[] rawBody, String signatureHeader, String eventId, String requestPath, long nowSeconds) {
    if (signatureHeader == null || signatureHeader.isEmpty()) return NO_SIGNATURE;
    Signature parsed = parseSignatureHeader(signatureHeader);
    if (parsed == null) return BAD_SIGNATURE_HEADER;
    if (!isValidEventId(eventId)) return BAD_EVENT_ID;
    byte[] prefix = (parsed.time() + "." + eventId + "." + requestPath + ".").getBytes(StandardCharsets.UTF_8);
    byte[] signed = new byte[prefix.length + rawBody.length];
    System.arraycopy(prefix, 0, signed, 0, prefix.length);
    System.arraycopy(rawBody, 0, signed, prefix.length, rawBody.length);
    byte[] expected = hmacSha256(key, signed);
    // MessageDigest.isEqual takes as long wherever the bytes differ, so a forger learns nothing
    // from timing.
    if (parsed.signatures().stream().noneMatch(signature -> MessageDigest.isEqual(signature, expected))) {
      return MISMATCH;
    }
    if (Math.abs(nowSeconds - Long.parseLong(parsed.time())) > TOLERANCE_SECONDS) return OUTSIDE_TOLERANCE;
    return null;
  }

  public static String check(byte[] key, byte[] rawBody, String signatureHeader, String eventId, String requestPath) {
    return check(key, rawBody, signatureHeader, eventId, requestPath, System.currentTimeMillis() / 1000);
  }

  // The "nsu_code" texts of a report whose signature has passed: the string values of the members so
  // named (in a report, those of its payments). Java's standard library has no JSON parser, so this
  // reads just enough of JSON to find them: strings, with their escapes, and the ":" after a
  // member's name; the texts are kept as written, escapes and all. A sales system uses the JSON
  // parser it already has.
  public static List<String> nsuCodes(byte[] rawBody) {
    String text = new String(rawBody, StandardCharsets.UTF_8);
    List<String> codes = new ArrayList<>();
    String name = null;  // the name of the member whose value comes next, once its ":" is read
    for (int at = 0; at < text.length(); ) {
      char c = text.charAt(at);
      if (c != '"') {
        if (!Character.isWhitespace(c)) name = null;
        at++;
        continue;
      }
      int end = at + 1;
      while (end < text.length() && text.charAt(end) != '"') end += text.charAt(end) == '\\' ? 2 : 1;
      if (end >= text.length()) break;
      String string = text.substring(at + 1, end);
      int next = end + 1;
      while (next < text.length() && Character.isWhitespace(text.charAt(next))) next++;
      boolean isName = next < text.length() && text.charAt(next) == ':';
      if (!isName && "nsu_code".equals(name)) codes.add(string);
      name = isName ? string : null;
      at = isName ? next + 1 : end + 1;
    }
    return codes;
  }

  // What TakenReports.take says of a report: its payment id, and whether it was taken before.
  public record Taken(int paymentId, boolean repeated) {}

  // The reports taken so far, with the payment id each one was given, by event id and by the NSU
  // of each payment in it. In memory for the sample: a real sales system keeps both in its
  // database, unique keys on the payment it records in the same transaction, so that a retry after
  // a restart is still known (and, taking payments of several acquirers, the NSU with the
  // acquirer's code).
  public static final class TakenReports {
    private final Map<String, Integer> byEvent = new HashMap<>();
    private final Map<String, Integer> byNsu = new HashMap<>();
    private int count = 0;

    // The payment id of the report with this event id and these NSUs (a new one the first time),
    // and whether it was taken before: under this event id (a retry), or under another with one of
    // its NSUs (the same payment reported again). Take only reports whose signature was good, or a
    // forger could block a real report by sending its id or NSU first.
    public synchronized Taken take(String eventId, List<String> nsus) {
      Integer earlier = byEvent.get(eventId);
      for (int i = 0; earlier == null && i < nsus.size(); i++) earlier = byNsu.get(nsus.get(i));
      if (earlier != null) return new Taken(earlier, true);
      int paymentId = 1000 + count++;
      byEvent.put(eventId, paymentId);
      for (String nsu : nsus) byNsu.put(nsu, paymentId);
      return new Taken(paymentId, false);
    }
  }
}
