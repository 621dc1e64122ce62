// A tiny sales API that takes the Kelvora TEF Server's reports of approved payments at
// POST /v1/sales/tef/callback/<token>, checks each one with CallbackVerifier and answers as the
// service expects: 201 {"data": <payment id>} for a new report, 200 with the same id and
// "duplicate": true for a repeat (its event id, or its payment's NSU, taken before), 4xx with the
// reason for one it refuses. The key is the service's [sales_api] signing_secret when it has one,
// else derived from its jwt_secret. The JDK's own HTTP server (module jdk.httpserver).
//
//   KELVORA_SIGNING_SECRET=... java -cp classes CallbackReceiver [--port N]   (127.0.0.1, 8090 by default)
//   KELVORA_JWT_SECRET=... java -cp classes CallbackReceiver [--port N]
import com.sun.net.httpserver.HttpExchange;
import com.sun.net.httpserver.HttpServer;
import java.io.IOException;
import java.io.InputStream;
import java.io.OutputStream;
import java.net.InetSocketAddress;
import java.nio.charset.StandardCharsets;
import java.util.concurrent.Executors;
import java.util.regex.Pattern;

public final class CallbackReceiver {
  private static final Pattern CALLBACK_PATH = Pattern.compile("/v1/sales/tef/callback/[^/?#]+");
  // Reports are a few KiB; a larger body is refused before it is read whole.
  private static final int MAX_BODY_BYTES = 1024 * 1024;

  private final byte[] key;
  private final CallbackVerifier.TakenReports reports = new CallbackVerifier.TakenReports();

  private CallbackReceiver(byte[] key) {
    this.key = key;
  }

  private static void answer(HttpExchange exchange, int status, String json) throws IOException {
    byte[] bytes = json.getBytes(StandardCharsets.UTF_8);
    exchange.getResponseHeaders().set("Content-Type", "application/json; charset=utf-8");
    exchange.sendResponseHeaders(status, bytes.length);
    try (OutputStream out = exchange.getResponseBody()) {
      out.write(bytes);
    }
  }

  private static String message(String text) {
    return "{\"message\":" + SessionToken.jsonString(text) + "}";
  }

  // The body's bytes exactly as received, or null once it passes the limit.
  private static byte[] readRawBody(HttpExchange exchange) throws IOException {
    try (InputStream in = exchange.getRequestBody()) {
      byte[] body = in.readNBytes(MAX_BODY_BYTES + 1);
      return body.length > MAX_BODY_BYTES ? null : body;
    }
  }

  private void handle(HttpExchange exchange) throws IOException {
    if (!CALLBACK_PATH.matcher(exchange.getRequestURI().getRawPath()).matches()
        || exchange.getRequestURI().getRawQuery() != null) {
      answer(exchange, 404, message("Não encontrado."));
      return;
    }
    if (!exchange.getRequestMethod().equals("POST")) {
      answer(exchange, 405, message("Método não permitido."));
      return;
    }
    byte[] rawBody = readRawBody(exchange);
    if (rawBody == null) {
      answer(exchange, 413, message("Corpo grande demais."));
      return;
    }
    String eventId = exchange.getRequestHeaders().getFirst("Kelvora-Event-Id");
    String reason = CallbackVerifier.check(key, rawBody, exchange.getRequestHeaders().getFirst("Kelvora-Signature"),
        eventId, exchange.getRequestURI().getRawPath());
    if (reason != null) {
      boolean unauthorized = reason.equals(CallbackVerifier.MISMATCH) || reason.equals(CallbackVerifier.OUTSIDE_TOLERANCE);
      answer(exchange, unauthorized ? 401 : 400, message(reason));
      return;
    }
    // Here, and not before, a sales system parses rawBody and records the payment with its event id
    // and its NSU.
    CallbackVerifier.Taken taken = reports.take(eventId, CallbackVerifier.nsuCodes(rawBody));
    if (taken.repeated()) {
      answer(exchange, 200, "{\"data\":" + taken.paymentId() + ",\"duplicate\":true}");
    } else {
      answer(exchange, 201, "{\"data\":" + taken.paymentId() + "}");
    }
  }

  public static void main(String[] args) throws IOException {
    int port = 8090;
    if (args.length == 2 && args[0].equals("--port") && args[1].matches("[0-9]{1,5}")) {
      port = Integer.parseInt(args[1]);
    } else if (args.length != 0) {
      System.err.println("usage: CallbackReceiver [--port N]");
      System.exit(2);
    }
    byte[] key = null;
    try {
      key = CallbackVerifier.reportKey(System.getenv("KELVORA_SIGNING_SECRET"), System.getenv("KELVORA_JWT_SECRET"));
    } catch (IllegalArgumentException e) {
      System.err.println("callback-receiver: " + e.getMessage());
      System.exit(2);
    }
    CallbackReceiver receiver = new CallbackReceiver(key);
    HttpServer server = HttpServer.create(new InetSocketAddress("127.0.0.1", port), 0);
    server.createContext("/", receiver::handle);
    // The server's default is one thread for every exchange, which one slow client would hold.
    server.setExecutor(Executors.newFixedThreadPool(4));
    server.start();
    System.out.println("callback-receiver: listening at http://127.0.0.1:" + server.getAddress().getPort() + "/");
  }
}
