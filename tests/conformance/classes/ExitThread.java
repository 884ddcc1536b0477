public class ExitThread {
    public static void main(String[] args) throws Exception {
        Thread worker = new Thread(() -> System.exit(4), "worker");
        worker.start();
        worker.join();
    }
}
